#include "tests/security/security_test_support.h"

#include "bridge/encoding.h"
#include "modules/security/key_derivation.h"
#include "modules/security/master_key_file.h"
#include "modules/security/user_protection.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

using namespace kx5;
using namespace kx5::test;

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

} // namespace

TEST(SecurityProtection, RoundTripsTextsForTheSameUser) {
    TempDir tmp;
    const std::string folder = tmp.path() + "data/velmar/app/";
    SecurityCalls call(folder);
    for (const std::string text : {"hello",
                                   "Gr\xC3\xBC\xC3\x9F"
                                   "e \xE2\x9C\x93",
                                   "x"}) {
        const std::string blob = call("encipher", {text});
        ASSERT_GT(blob.size(), 1u);
        // Version byte, nonce, the text's bytes, tag.
        EXPECT_EQ(blob.size(), 1 + 2 * (1 + 12 + text.size() + 16));
        EXPECT_EQ(blob.substr(1, 2), "01");
        EXPECT_EQ(call("decipher", {blob.substr(1)}), "s" + text);
        // A fresh nonce each time.
        EXPECT_NE(call("encipher", {text}), blob);
    }
    // The empty text protects and comes back empty.
    const std::string empty = call("encipher", {""});
    EXPECT_EQ(empty.size(), 1 + 2 * 29u);
    EXPECT_EQ(call("decipher", {empty.substr(1)}), "s");

    // Another module over the same folder (a later run) reads it back.
    const std::string blob = call("encipher", {"kept"}).substr(1);
    SecurityCalls later(folder);
    EXPECT_EQ(later("decipher", {blob}), "skept");
}

TEST(SecurityProtection, RejectsAlteredCutAndForeignBlobs) {
    TempDir tmp;
    SecurityCalls call(tmp.path() + "a/");
    const std::string blob = call("encipher", {"secret text"}).substr(1);
    const Bytes bytes = hexDecode(blob);
    for (size_t i = 0; i < bytes.size(); ++i) {
        Bytes altered = bytes;
        altered[i] = static_cast<char>(altered[i] ^ 0x01);
        EXPECT_EQ(call("decipher", {hexEncode(altered)}), "s") << "byte " << i;
    }
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_EQ(call("decipher", {hexEncode(bytes.substr(0, n))}), "s") << "length " << n;
    EXPECT_EQ(call("decipher", {blob + "00"}), "s");
    EXPECT_EQ(call("decipher", {"00"}), "s");
    EXPECT_EQ(call("decipher"), "s");
    EXPECT_EQ(call("decipher", {"not hex at all"}), "s");

    // Another user's key (another key file) cannot open it.
    SecurityCalls other(tmp.path() + "b/");
    ASSERT_GT(other("encipher", {"theirs"}).size(), 1u);
    EXPECT_EQ(other("decipher", {blob}), "s");

    // Other entropy than the module's cannot open it either.
    security::UserProtection direct(tmp.path() + "a/");
    const auto entropy = security::protectionEntropy();
    ASSERT_TRUE(entropy);
    EXPECT_EQ(direct.unprotect(bytes, *entropy), Bytes("secret text"));
    Bytes otherEntropy = *entropy;
    otherEntropy[0] ^= 1;
    EXPECT_FALSE(direct.unprotect(bytes, otherEntropy));
    EXPECT_FALSE(direct.unprotect(bytes, ""));
}

TEST(SecurityProtection, MasterKeyFileIsPrivateAndNeverReplaced) {
    TempDir tmp;
    const std::string folder = tmp.path() + "nested/data/";
    const std::string keyFile = folder + security::kMasterKeyFileName;
    SecurityCalls call(folder);

    // Deciphering alone creates nothing.
    EXPECT_EQ(call("decipher", {"01" + std::string(56, '0')}), "s");
    EXPECT_FALSE(exists(keyFile));

    const std::string blob = call("encipher", {"first"}).substr(1);
    ASSERT_TRUE(exists(keyFile));
    EXPECT_EQ(modeOf(keyFile), 0600u);
    const std::string key = readFile(keyFile);
    EXPECT_EQ(key.size(), security::kMasterKeySize);
    // Only the key file remains: no temporary files left behind.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++entries;
    EXPECT_EQ(entries, 1u);
    call("encipher", {"second"});
    EXPECT_EQ(readFile(keyFile), key);

    // A key file others may read is made private again and still works.
    ASSERT_EQ(::chmod(keyFile.c_str(), 0644), 0);
    EXPECT_EQ(call("decipher", {blob}), "sfirst");
    EXPECT_EQ(modeOf(keyFile), 0600u);

    // A damaged key file is left alone and named in a failure of its own:
    // nothing is enciphered with a new key that would orphan what was
    // protected before, and the texts it guarded are reported lost.
    const std::string damaged = "ethe key file " + keyFile + " is damaged (";
    const auto expectDamaged = [&](const std::string& why) {
        SCOPED_TRACE(why);
        EXPECT_EQ(call("encipher", {"third"}),
                  damaged + why +
                      "): every text protected with it is lost, and nothing is protected until "
                      "it is moved away");
        EXPECT_EQ(call("decipher", {blob}),
                  damaged + why + "): the text protected with it is lost");
        // And on every later start.
        SecurityCalls later(folder);
        EXPECT_EQ(later("decipher", {blob}).rfind(damaged, 0), 0u);
    };
    writeFile(keyFile, key + "x");
    expectDamaged("it holds 33 bytes, not 32");
    EXPECT_EQ(readFile(keyFile), key + "x");
    writeFile(keyFile, key.substr(0, 5));
    expectDamaged("it holds 5 bytes, not 32");
    writeFile(keyFile, "");
    expectDamaged("it holds 0 bytes, not 32");
    EXPECT_TRUE(exists(keyFile));
    ASSERT_EQ(::unlink(keyFile.c_str()), 0);
    ASSERT_EQ(::mkfifo(keyFile.c_str(), 0600), 0);
    expectDamaged("it is not a file");
    ASSERT_EQ(::unlink(keyFile.c_str()), 0);

    // A link in place of the key file is not followed.
    writeFile(tmp.path() + "elsewhere.key", key);
    ASSERT_EQ(::symlink((tmp.path() + "elsewhere.key").c_str(), keyFile.c_str()), 0);
    expectDamaged("it is a symbolic link");

    // Restoring the original key brings the old text back.
    ASSERT_EQ(::unlink(keyFile.c_str()), 0);
    writeFile(keyFile, key);
    EXPECT_EQ(call("decipher", {blob}), "sfirst");

    // Without a folder there is no protection.
    SecurityCalls none("");
    EXPECT_EQ(none("encipher", {"x"}), "s");
}

TEST(SecurityProtection, ConcurrentFirstUseAgreesOnOneKey) {
    TempDir tmp;
    const std::string folder = tmp.path() + "shared/";
    const auto entropy = security::protectionEntropy();
    ASSERT_TRUE(entropy);
    constexpr int kThreads = 8;
    std::vector<Bytes> blobs(kThreads);
    {
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&, i] {
                security::UserProtection protection(folder);
                blobs[i] = protection.protect("text " + std::to_string(i), *entropy).value_or("");
            });
        for (auto& t : threads)
            t.join();
    }
    security::UserProtection reader(folder);
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(reader.unprotect(blobs[i], *entropy), Bytes("text " + std::to_string(i)));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++entries;
    EXPECT_EQ(entries, 1u);
}
