#include "tests/fs/fs_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace kx5;
using namespace kx5::fstest;

TEST_F(FsModule, MkdirCreatesParentsAndAcceptsExistingFolders) {
    EXPECT_EQ(call("mkdir", {root + "a/b/c/"}), "v");
    EXPECT_TRUE(stdfs::is_directory(root + "a/b/c"));
    EXPECT_EQ(call("mkdir", {root + "a/b"}), "v");
    // A file where the folder should be is not a folder that exists.
    file("f", "x");
    EXPECT_EQ(call("mkdir", {root + "f"}), "eFile exists");
    EXPECT_EQ(call("mkdir", {root + "f/sub"}), "eNot a directory");
}

TEST_F(FsModule, UnlinkRemovesTreesButNeverFollowsLinks) {
    file("tree/.hidden", "h");
    file("tree/deep/er/file", "x");
    const std::string locked = file("tree/locked", "x");
    chmod(locked.c_str(), 0444);
    const std::string outside = file("outside/keep.txt", "keep");
    ASSERT_EQ(symlink((root + "outside").c_str(), (root + "tree/deep/link").c_str()), 0);

    EXPECT_EQ(call("unlink", {root + "tree/"}), "v");
    EXPECT_FALSE(stdfs::exists(root + "tree"));
    EXPECT_EQ(readFile(outside), "keep");

    // A link to a folder goes by itself, its target stays whole.
    ASSERT_EQ(symlink((root + "outside").c_str(), (root + "dirlink").c_str()), 0);
    EXPECT_EQ(call("unlink", {root + "dirlink/"}), "v");
    EXPECT_FALSE(stdfs::is_symlink(root + "dirlink"));
    EXPECT_EQ(readFile(outside), "keep");

    EXPECT_EQ(call("unlink", {outside}), "v");
    EXPECT_EQ(call("unlink", {outside}), "eNo such file or directory");
}

TEST_F(FsModule, CopyNeverReplacesAndKeepsModeAndContent) {
    const std::string source = file("src.bin", std::string("a\0b", 3));
    chmod(source.c_str(), 0750);
    const std::string target = file("dst.bin", "target");
    EXPECT_EQ(call("copy", {source, target}), "eFile exists");
    EXPECT_EQ(readFile(target), "target");

    EXPECT_EQ(call("copy", {source, root + "copy.bin"}), "v");
    EXPECT_EQ(readFile(root + "copy.bin"), std::string("a\0b", 3));
    struct stat st {};
    ASSERT_EQ(stat((root + "copy.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0700, 0700u);

    EXPECT_EQ(call("copy", {root + "missing", root + "never"}), "eNo such file or directory");
    EXPECT_FALSE(stdfs::exists(root + "never"));
    EXPECT_EQ(call("copy", {source, root + "no/folder/x"}), "eNo such file or directory");
    EXPECT_EQ(call("copy", {root, root + "folder-copy"}), "eIs a directory");
    EXPECT_FALSE(stdfs::exists(root + "folder-copy"));
}

TEST_F(FsModule, MoveRenamesButNeverReplaces) {
    const std::string a = file("a.txt", "A");
    const std::string b = file("b.txt", "B");
    EXPECT_EQ(call("move", {a, b}), "eFile exists");
    EXPECT_EQ(readFile(a), "A");
    EXPECT_EQ(readFile(b), "B");
    EXPECT_EQ(call("move", {a, root + "c.txt"}), "v");
    EXPECT_FALSE(stdfs::exists(a));
    EXPECT_EQ(readFile(root + "c.txt"), "A");
    file("dir/inner", "i");
    EXPECT_EQ(call("move", {root + "dir", root + "moved"}), "v");
    EXPECT_EQ(readFile(root + "moved/inner"), "i");
    EXPECT_EQ(call("move", {root + "missing", root + "x"}), "eNo such file or directory");
}

TEST_F(FsModule, UnmountOfAFixedDiskFailsWithAReason) {
    // The root file system is not a removable volume: nothing is unmounted.
    EXPECT_EQ(call("unmount", {"/"}), "v");
    auto posted = events();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].rfind("fs\funmountfailed\f/\f", 0), 0u) << posted[0];
    EXPECT_GT(posted[0].size(), std::string("fs\funmountfailed\f/\f").size());

    EXPECT_EQ(call("unmount", {root + "not/there"}), "v");
    posted = events();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].rfind("fs\funmountfailed\f" + root + "not/there\f", 0), 0u);
}

TEST_F(FsModule, VolumesListTheRootFolder) {
    const std::string result = call("volumes");
    EXPECT_EQ(result.rfind("s[", 0), 0u);
    EXPECT_NE(result.find("{\"mount\":\"\\/\",\"volume\":"), std::string::npos) << result;
}

TEST_F(FsModule, MissingArgumentsAreRefused) {
    for (const char* f : {"stat", "exec", "mkdir", "unlink", "copy", "move", "unzip", "readData",
                          "writeData", "appendString", "importmediafile"})
        EXPECT_EQ(call(f), "eInvalid argument") << f;
    EXPECT_EQ(call("copy", {root}), "eInvalid argument");
}
