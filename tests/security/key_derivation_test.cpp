#include "tests/security/security_test_support.h"

#include "bridge/encoding.h"
#include "modules/security/builtin_passphrase.h"
#include "modules/security/key_derivation.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace kx5;
using namespace kx5::test;

namespace {

// Key and IV the enc tool derives with MD5 from the built-in passphrase
// ("key" and "iv" of its -P listing); salt empty means -nosalt.
std::map<std::string, std::string> toolKeyAndIv(const TempDir& tmp, const std::string& salt) {
    std::vector<std::string> argv = {"openssl",
                                     "enc",
                                     "-aes-128-cbc",
                                     "-md",
                                     "md5",
                                     "-pass",
                                     "pass:" + security::builtInPassphrase(),
                                     "-P"};
    if (salt.empty()) {
        argv.push_back("-nosalt");
    } else {
        argv.push_back("-S");
        argv.push_back(salt);
    }
    const std::string out = tmp.path() + "listing.txt";
    EXPECT_EQ(runCommand(argv, out), 0);
    std::map<std::string, std::string> values;
    std::istringstream lines(readFile(out));
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string name = line.substr(0, eq);
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        values[name] = line.substr(eq + 1);
    }
    return values;
}

} // namespace

TEST(SecurityKeyDerivation, BuiltInPassphraseIsShortNonZeroAndNotStoredPlainly) {
    const std::string pass = security::builtInPassphrase();
    ASSERT_FALSE(pass.empty());
    EXPECT_LE(pass.size(), security::kMaxPassphraseSize);
    EXPECT_EQ(pass.find('\0'), std::string::npos);
    EXPECT_EQ(pass, security::builtInPassphrase());
    // This program links the module: its image must not hold the plain bytes.
    const std::string image = readFile("/proc/self/exe");
    ASSERT_GT(image.size(), 0u);
    EXPECT_EQ(image.find(pass), std::string::npos);
}

TEST(SecurityKeyDerivation, KivShapeAndSaltRules) {
    TempDir tmp;
    SecurityCalls call(tmp.path());
    const std::string shape = "s" + std::string(32, 'H') + "/" + std::string(32, 'H');
    const std::string kiv = call("kiv", {"0102030405060708"});
    EXPECT_EQ(kiv.size(), 66u);
    EXPECT_TRUE(hasShape(kiv, shape)) << kiv;
    EXPECT_NE(call("kiv", {"0102030405060709"}), kiv);
    // Short salts are padded with zero bytes, long ones cut at 8 bytes.
    EXPECT_EQ(call("kiv", {"0102"}), call("kiv", {"0102000000000000"}));
    EXPECT_EQ(call("kiv", {"0102030405060708FFEE"}), kiv);
    // A zero salt is still a salt; no salt at all is the default key.
    EXPECT_NE(call("kiv", {"00"}), call("kiv", {""}));
    EXPECT_EQ(call("kiv"), call("kiv", {""}));
    EXPECT_TRUE(hasShape(call("kiv", {""}), shape));
}

TEST(SecurityKeyDerivation, MatchesTheEncToolsMd5Derivation) {
    TempDir tmp;
    SecurityCalls call(tmp.path());
    for (const std::string salt : {"0102030405060708", "00000000000000FF", "A5A5A5A55A5A5A5A"}) {
        auto tool = toolKeyAndIv(tmp, salt);
        EXPECT_EQ(call("kiv", {salt}), "s" + tool["key"] + "/" + tool["iv"]) << salt;
    }
    // Unsalted: the default key of the cipher functions, and the protection
    // entropy laid out as IV bytes then key bytes.
    auto tool = toolKeyAndIv(tmp, "");
    ASSERT_EQ(tool["key"].size(), 32u);
    EXPECT_EQ(security::defaultKeyText(), tool["key"] + "/" + tool["iv"]);
    const auto entropy = security::protectionEntropy();
    ASSERT_TRUE(entropy);
    EXPECT_EQ(hexEncode(*entropy), tool["iv"] + tool["key"]);
    // Without a key argument the ciphers use exactly that key.
    const std::string data = "00112233445566778899AABBCCDDEEFF";
    EXPECT_EQ(call("aesencrypt", {data}), call("aesencrypt", {data, call("kiv", {""}).substr(1)}));
}

// A script stored as "Salted__" + salt + AES-128-CBC data opens with
// kiv(salt) and aesdecrypt, whichever way the enc tool wrote it.
TEST(SecurityKeyDerivation, SaltedScriptFromTheEncToolDecrypts) {
    TempDir tmp;
    SecurityCalls call(tmp.path());
    std::string script = "window.loaded = function () { return 'ok \xE2\x9C\x93'; };\n";
    script += std::string(100, ';');
    writeFile(tmp.path() + "script.js", script);
    const std::string pass = "pass:" + security::builtInPassphrase();

    // Random salt: the tool writes the header itself.
    ASSERT_EQ(runCommand({"openssl", "enc", "-aes-128-cbc", "-md", "md5", "-pass", pass, "-in",
                          tmp.path() + "script.js", "-out", tmp.path() + "random.enc"}),
              0);
    // Given salt: this tool version leaves the header out, so add it.
    const std::string salt = "1122334455667788";
    ASSERT_EQ(runCommand({"openssl", "enc", "-aes-128-cbc", "-md", "md5", "-S", salt, "-pass", pass,
                          "-in", tmp.path() + "script.js", "-out", tmp.path() + "given.enc"}),
              0);
    std::string given = readFile(tmp.path() + "given.enc");
    if (given.rfind("Salted__", 0) != 0) given = "Salted__" + hexDecode(salt) + given;

    for (const std::string& file : {readFile(tmp.path() + "random.enc"), given}) {
        const std::string hex = hexEncode(file);
        ASSERT_EQ(hex.substr(0, 16), "53616C7465645F5F");
        const std::string key = call("kiv", {hex.substr(16, 16)});
        ASSERT_EQ(key.size(), 66u);
        const std::string plain = call("aesdecrypt", {hex.substr(32), key.substr(1)});
        EXPECT_EQ(plain, "s" + hexEncode(script));
        // The unsalted default key does not open it.
        EXPECT_NE(call("aesdecrypt", {hex.substr(32)}), plain);
    }
}
