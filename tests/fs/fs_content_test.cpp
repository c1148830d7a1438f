#include "tests/fs/fs_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace kx5;
using namespace kx5::fstest;

namespace {

std::string options(long long offset, long long length) {
    return "{\"offset\":" + std::to_string(offset) + ",\"length\":" + std::to_string(length) + "}";
}

// Leftover temporary files of an interrupted replace would show up here.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : stdfs::directory_iterator(folder))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST_F(FsModule, ReadDataWholeFileAndRanges) {
    EXPECT_EQ(call("readData", {file("three", std::string("\x00\x0A\xFF", 3))}), "s000AFF");
    const std::string ten = file("ten", "0123456789");
    EXPECT_EQ(call("readData", {ten, options(2, -1)}), "s3233343536373839");
    EXPECT_EQ(call("readData", {ten, options(8, 100)}), "s3839");
    EXPECT_EQ(call("readData", {ten, options(3, 2)}), "s3334");
    EXPECT_EQ(call("readData", {ten, options(10, 5)}), "s");
    EXPECT_EQ(call("readData", {ten, options(20, -1)}), "s");
    // The largest length asks for no more memory than the file holds.
    EXPECT_EQ(call("readData", {ten, options(9, 2147483647)}), "s39");
    EXPECT_EQ(call("readData", {ten, options(-1, 2)}), "eInvalid argument");
    // Numbers are truncated to 32 bits: 2^32 + 1 is offset 1.
    EXPECT_EQ(call("readData", {ten, options(4294967297LL, 1)}), "s31");
}

TEST_F(FsModule, ReadOptionsMustBeAnObjectWithBothNumbers) {
    const std::string ten = file("ten", "0123456789");
    EXPECT_EQ(call("readData", {ten, "{\"offset\":1}"}), "esystem exception");
    EXPECT_EQ(call("readData", {ten, "{\"offset\":\"1\",\"length\":2}"}), "esystem exception");
    EXPECT_EQ(call("readData", {ten, "[1,2]"}), "esystem exception");
    EXPECT_EQ(call("readData", {ten, "not json"}), "esystem exception");
}

TEST_F(FsModule, ReadStringDecodesUtf8AsStored) {
    EXPECT_EQ(call("readString", {file("bom", "\xEF\xBB\xBFhi")}), "s\xEF\xBB\xBFhi");
    EXPECT_EQ(call("readString", {file("nul", std::string("A\0B", 3))}), "sA");
    EXPECT_EQ(call("readString", {file("bad", "A\xFF")}), "sA\xEF\xBF\xBD");
    EXPECT_EQ(call("readString", {file("empty", "")}), "s");
    EXPECT_EQ(call("readString", {root + "missing"}), "eNo such file or directory");
    EXPECT_EQ(call("readString", {root}), "eIs a directory");
    EXPECT_EQ(call("readString"), "eInvalid argument");
}

TEST_F(FsModule, WritesConvertTextAndHex) {
    const std::string path = root + "out.bin";
    EXPECT_EQ(call("writeString", {path, "\xC3\xA9"}), "v");
    EXPECT_EQ(readFile(path), "\xC3\xA9");
    EXPECT_EQ(call("writeData", {path, "4a4B"}), "v");
    EXPECT_EQ(readFile(path), "JK");
    EXPECT_EQ(call("writeData", {path, "4A4"}), "v"); // odd digit ignored
    EXPECT_EQ(readFile(path), "J");
    EXPECT_EQ(call("writeData", {path, ""}), "v");
    EXPECT_EQ(readFile(path), "");
    EXPECT_EQ(call("appendString", {root + "new.txt", "a"}), "v"); // creates
    EXPECT_EQ(call("appendData", {root + "new.txt", "4243"}), "v");
    EXPECT_EQ(readFile(root + "new.txt"), "aBC");
    EXPECT_EQ(call("writeString", {root + "no/such/folder.txt", "x"}),
              "eNo such file or directory");
    EXPECT_EQ(call("writeString", {path}), "eInvalid argument");
}

TEST_F(FsModule, ReplacingKeepsPermissionsLinksAndLeavesNoTemporaryFile) {
    const std::string path = file("keep/data.txt", "old");
    chmod(path.c_str(), 0640);
    ASSERT_EQ(call("writeString", {path, "new"}), "v");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(namesIn(root + "keep"), std::vector<std::string>{"data.txt"});

    // Through a link: the link stays, its target changes.
    const std::string link = root + "keep/link.txt";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    ASSERT_EQ(call("writeString", {link, "via link"}), "v");
    EXPECT_TRUE(stdfs::is_symlink(link));
    EXPECT_EQ(readFile(path), "via link");

    // A write-protected file is not replaced, although its folder is writable.
    const std::string locked = file("keep/locked.txt", "locked");
    chmod(locked.c_str(), 0444);
    EXPECT_EQ(call("writeString", {locked, "x"}), "ePermission denied");
    EXPECT_EQ(call("appendString", {locked, "x"}), "ePermission denied");
    EXPECT_EQ(readFile(locked), "locked");

    // A folder in the way is refused and left alone.
    stdfs::create_directories(root + "keep/folder");
    EXPECT_EQ(call("writeData", {root + "keep/folder", "00"}), "eIs a directory");
    EXPECT_TRUE(stdfs::is_directory(root + "keep/folder"));
}
