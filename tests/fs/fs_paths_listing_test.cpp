#include "tests/fs/fs_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kx5;
using namespace kx5::fstest;

namespace {

class FsPaths : public FsModule {
  protected:
    void SetUp() override {
        FsModule::SetUp();
        home = root + "home";
        stdfs::create_directories(home + "/Docs");
        stdfs::create_directories(home + "/Sound");
        stdfs::create_directories(root + "xdg");
        writeFile(root + "xdg/user-dirs.dirs", "# written by a test\n"
                                               "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
                                               "XDG_MUSIC_DIR=\"$HOME/Sound\"\n"
                                               "XDG_PICTURES_DIR=\"$HOME/Missing\"\n"
                                               "XDG_VIDEOS_DIR=\"$HOME/\"\n");
    }
    std::string home;
    std::optional<ScopedEnv> homeEnv, configEnv;
    void useEnvironment() {
        homeEnv.emplace("HOME", home);
        configEnv.emplace("XDG_CONFIG_HOME", root + "xdg");
    }
};

} // namespace

TEST_F(FsPaths, KeysGiveUserFoldersWithFallbacks) {
    useEnvironment();
    EXPECT_EQ(call("separator"), "s/");
    EXPECT_EQ(call("path", {"HOME"}), "s" + home + "/");
    EXPECT_EQ(call("path", {"Home"}), "s" + home + "/");
    EXPECT_EQ(call("path", {"music"}), "s" + home + "/Sound/");
    // Unknown keys, a configured folder that does not exist and a folder
    // switched off (set to the home folder) all give the documents folder.
    EXPECT_EQ(call("path", {"data"}), "s" + home + "/Docs/");
    EXPECT_EQ(call("path", {"pictures"}), "s" + home + "/Docs/");
    EXPECT_EQ(call("path", {"movies"}), "s" + home + "/Docs/");
    EXPECT_EQ(call("path", {}), "s" + home + "/Docs/");
    // Without a documents folder the home folder is the last resort.
    stdfs::remove(home + "/Docs");
    EXPECT_EQ(call("path", {"downloads"}), "s" + home + "/");
}

TEST_F(FsPaths, ProgramFoldersAreCreatedAndEndInSeparator) {
    useEnvironment();
    EXPECT_EQ(call("path", {"LIBRARY"}), "s" + paths.dataFolder + "data/");
    EXPECT_TRUE(stdfs::is_directory(paths.dataFolder + "data"));
    EXPECT_EQ(call("path", {"bundle"}), "s" + paths.dataFolder);
    EXPECT_EQ(call("path", {"temporary"}), "s" + paths.tempFolder);
}

TEST_F(FsModule, ContentsListsVisibleEntriesSortedWithTheirFacts) {
    file("d/b.wav", "12345");
    file("d/A.WAV", "");
    file("d/.hidden.wav", "x");
    file("d/notes.txt", "");
    stdfs::create_directories(root + "d/sub.wav");
    const std::string all = call("contents", {root + "d"});
    EXPECT_EQ(all, "s[{\"deletable\":true,\"directory\":false,\"name\":\"A.WAV\",\"readable\":true,"
                   "\"size\":0,\"writable\":true},"
                   "{\"deletable\":true,\"directory\":false,\"name\":\"b.wav\",\"readable\":true,"
                   "\"size\":5,\"writable\":true},"
                   "{\"deletable\":true,\"directory\":false,\"name\":\"notes.txt\",\"readable\":"
                   "true,\"size\":0,\"writable\":true},"
                   "{\"deletable\":true,\"directory\":true,\"name\":\"sub.wav\",\"readable\":true,"
                   "\"size\":0,\"writable\":true}]");
    EXPECT_EQ(call("contents", {root + "d//"}), all);
    // The extension filter ignores case and also matches folders.
    const std::string wav = call("contents", {root + "d/", "wav"});
    EXPECT_NE(wav.find("A.WAV"), std::string::npos);
    EXPECT_NE(wav.find("sub.wav"), std::string::npos);
    EXPECT_EQ(wav.find("notes.txt"), std::string::npos);
    EXPECT_EQ(wav.find(".hidden"), std::string::npos);
}

TEST_F(FsModule, ContentsErrorsAndEmptyFolders) {
    stdfs::create_directories(root + "empty");
    EXPECT_EQ(call("contents", {root + "empty"}), "s[]");
    // No name matches the extension: an error, not an empty list.
    EXPECT_EQ(call("contents", {root + "empty", "wav"}), "eNo such file or directory");
    // Only a hidden file matches: found, but not listed.
    file("h/.x.wav", "");
    EXPECT_EQ(call("contents", {root + "h", "wav"}), "s[]");
    EXPECT_EQ(call("contents", {root + "missing"}), "eNo such file or directory");
    EXPECT_EQ(call("contents", {file("plain", "")}), "eNot a directory");
    EXPECT_EQ(call("contents"), "eInvalid argument");
}

TEST_F(FsModule, StatFindsHiddenEntriesAndReportsSizeModulo4GiB) {
    file(".hidden", "abc");
    EXPECT_EQ(call("stat", {root + ".hidden"}),
              "s{\"deletable\":true,\"directory\":false,\"name\":\".hidden\",\"readable\":true,"
              "\"size\":3,\"writable\":true}");
    const std::string big = root + "big.bin";
    {
        const int fd = open(big.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 5LL << 30), 0); // sparse: takes no space
        close(fd);
    }
    EXPECT_NE(call("stat", {big}).find("\"size\":1073741824"), std::string::npos);
    EXPECT_NE(call("contents", {root, "bin"}).find("\"size\":1073741824"), std::string::npos);
    stdfs::create_directories(root + "folder");
    EXPECT_EQ(call("stat", {root + "folder//"}),
              "s{\"deletable\":true,\"directory\":true,\"name\":\"folder\",\"readable\":true,"
              "\"size\":0,\"writable\":true}");
    EXPECT_EQ(call("stat", {root + "nothing"}), "eNo such file or directory");
}

TEST_F(FsModule, WriteProtectionShowsInWritableAndDeletable) {
    const std::string locked = file("locked.txt", "x");
    chmod(locked.c_str(), 0444);
    EXPECT_EQ(call("stat", {locked}),
              "s{\"deletable\":false,\"directory\":false,\"name\":\"locked.txt\",\"readable\":"
              "true,\"size\":1,\"writable\":false}");
    // A writable file in a write-protected folder cannot be deleted.
    const std::string inside = file("shut/inner.txt", "x");
    chmod((root + "shut").c_str(), 0555);
    EXPECT_NE(call("stat", {inside}).find("\"deletable\":false"), std::string::npos);
    EXPECT_NE(call("contents", {root + "shut"}).find("\"deletable\":false"), std::string::npos);
}
