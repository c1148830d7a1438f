#include "tests/security/security_test_support.h"

#include "bridge/encoding.h"

#include <gtest/gtest.h>

#include <set>

using namespace kx5;
using namespace kx5::test;

namespace {
const std::string kEmptyDigest = "sD41D8CD98F00B204E9800998ECF8427E";
const std::string kAbcDigest = "s900150983CD24FB0D6963F7D28E17F72";
} // namespace

TEST(SecurityMd5, DigestsHexData) {
    TempDir tmp;
    SecurityCalls call(tmp.path());
    EXPECT_EQ(call("md5", {""}), kEmptyDigest);
    EXPECT_EQ(call("md5"), kEmptyDigest);
    EXPECT_EQ(call("md5", {"616263"}), kAbcDigest);
    EXPECT_EQ(call("md5", {"6d65737361676520646967657374"}), // "message digest"
              "sF96B697D7CB7938D525A2F31AAF161D0");
    // Hex digits in either case are the same bytes.
    EXPECT_EQ(call("md5", {"6D65737361676520646967657374"}), "sF96B697D7CB7938D525A2F31AAF161D0");
    // Embedded zero bytes are data, not an end marker.
    EXPECT_EQ(call("md5", {"00"}), "s93B885ADFE0DA089CDF634904FD59F71");
}

TEST(SecurityMd5, DigestsFilesAndReportsUnreadableOnes) {
    TempDir tmp;
    SecurityCalls call(tmp.path());
    writeFile(tmp.path() + "abc.bin", "abc");
    EXPECT_EQ(call("md5", {tmp.path() + "abc.bin"}), kAbcDigest);
    writeFile(tmp.path() + "empty.bin", "");
    EXPECT_EQ(call("md5", {tmp.path() + "empty.bin"}), kEmptyDigest);

    // Larger than one read, with zero bytes: a million "a" is the classic
    // vector; the same content through hex must agree.
    writeFile(tmp.path() + "million.bin", std::string(1000000, 'a'));
    EXPECT_EQ(call("md5", {tmp.path() + "million.bin"}), "s7707D6AE4E027C70EEA2A935C2296F21");
    std::string binary;
    for (int i = 0; i < 70000; ++i)
        binary.push_back(static_cast<char>(i * 7));
    writeFile(tmp.path() + "binary.bin", binary);
    EXPECT_EQ(call("md5", {tmp.path() + "binary.bin"}), call("md5", {hexEncode(binary)}));

    // A backslash anywhere also marks a path.
    writeFile(tmp.path() + "back\\slash.bin", "abc");
    EXPECT_EQ(call("md5", {tmp.path() + "back\\slash.bin"}), kAbcDigest);

    EXPECT_EQ(call("md5", {tmp.path() + "missing.bin"}), "s");
    EXPECT_EQ(call("md5", {tmp.path()}), "s"); // a folder cannot be read
    EXPECT_EQ(call("md5", {"/nonexistent-folder/x.bin"}), "s");
}

TEST(SecurityIdentifier, RandomUpperCaseIdentifiers) {
    TempDir tmp;
    SecurityCalls call(tmp.path());
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string id = call("uuidgen");
        ASSERT_EQ(id.size(), 37u);
        // Random (version 4) identifiers of the standard variant.
        EXPECT_TRUE(hasShape(id, "sHHHHHHHH-HHHH-4HHH-HHHH-HHHHHHHHHHHH")) << id;
        EXPECT_NE(std::string("89AB").find(id[20]), std::string::npos) << id;
        EXPECT_NE(id, "s01234567-89AB-CDEF-0123-456789ABCDEF");
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}
