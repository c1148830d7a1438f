#include "modules/fs/media_library.h"
#include "tests/fs/fs_fixture.h"

#include <unistd.h>
#include <zip.h>

using namespace kx5;
using namespace kx5::fstest;

namespace {

// Entries whose name ends in "/" become folder entries.
void makeZip(const std::string& path,
             const std::vector<std::pair<std::string, std::string>>& entries) {
    int error = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(z, nullptr);
    for (const auto& [name, content] : entries) {
        if (!name.empty() && name.back() == '/') {
            ASSERT_GE(zip_dir_add(z, name.c_str(), ZIP_FL_ENC_UTF_8), 0);
            continue;
        }
        zip_source_t* s = zip_source_buffer(z, content.data(), content.size(), 0);
        ASSERT_GE(zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8), 0) << name;
    }
    ASSERT_EQ(zip_close(z), 0);
}

} // namespace

TEST_F(FsModule, UnzipKeepsFoldersAndReplacesFiles) {
    const std::string archive = root + "a.zip";
    makeZip(
        archive,
        {{"html/", ""}, {"html/index.html", "<p>"}, {"js/app.js", "x=1"}, {"./top.txt", "top"}});
    file("out/top.txt", "old");
    EXPECT_EQ(call("unzip", {archive, root + "out"}), "v");
    EXPECT_EQ(readFile(root + "out/html/index.html"), "<p>");
    EXPECT_EQ(readFile(root + "out/js/app.js"), "x=1");
    EXPECT_EQ(readFile(root + "out/top.txt"), "top");
    // A missing target folder is created.
    EXPECT_EQ(call("unzip", {archive, root + "new/out"}), "v");
    EXPECT_EQ(readFile(root + "new/out/js/app.js"), "x=1");
}

TEST_F(FsModule, UnzipRefusesEntriesOutsideTheTargetBeforeWritingAnything) {
    for (const std::string evil :
         {"../evil.txt", "sub/../../evil.txt", "/tmp/evil.txt", "..\\evil.txt"}) {
        const std::string archive = root + "slip.zip";
        makeZip(archive, {{"good.txt", "g"}, {evil, "bad"}});
        const std::string result = call("unzip", {archive, root + "target"});
        EXPECT_EQ(result.rfind("e", 0), 0u) << evil;
        EXPECT_NE(result.find("outside the target folder"), std::string::npos) << result;
        EXPECT_FALSE(stdfs::exists(root + "target/good.txt")) << evil;
        EXPECT_FALSE(stdfs::exists(root + "evil.txt")) << evil;
    }
}

TEST_F(FsModule, UnzipDoesNotWriteThroughLinksInTheTarget) {
    stdfs::create_directories(root + "target");
    stdfs::create_directories(root + "elsewhere");
    ASSERT_EQ(symlink((root + "elsewhere").c_str(), (root + "target/sub").c_str()), 0);
    ASSERT_EQ(symlink((root + "elsewhere/victim").c_str(), (root + "target/file").c_str()), 0);
    const std::string archive = root + "links.zip";
    makeZip(archive, {{"file", "replaced link"}});
    EXPECT_EQ(call("unzip", {archive, root + "target"}), "v");
    EXPECT_FALSE(stdfs::is_symlink(root + "target/file"));
    EXPECT_EQ(readFile(root + "target/file"), "replaced link");
    EXPECT_FALSE(stdfs::exists(root + "elsewhere/victim"));

    makeZip(archive, {{"sub/inner.txt", "x"}});
    EXPECT_EQ(call("unzip", {archive, root + "target"}), "eNot a directory");
    EXPECT_FALSE(stdfs::exists(root + "elsewhere/inner.txt"));
}

TEST_F(FsModule, UnzipReportsBadArchives) {
    EXPECT_EQ(call("unzip", {root + "none.zip", root + "t"}), "eNo such file or directory");
    const std::string junk = file("junk.zip", "this is not an archive");
    const std::string result = call("unzip", {junk, root + "t"});
    EXPECT_EQ(result.rfind("e", 0), 0u);
    EXPECT_NE(result, "esystem exception");
}

TEST_F(FsModule, ImportNumbersCopiesAndDeleteFindsEscapedNames) {
    const std::string song = file("in/my song.wav", "RIFF");
    const std::string library = paths.dataFolder + "data/";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(call("importmediafile", {song}), "v");
    EXPECT_EQ(readFile(library + "my song.wav"), "RIFF");
    EXPECT_TRUE(stdfs::exists(library + "my song_1.wav"));
    EXPECT_TRUE(stdfs::exists(library + "my song_2.wav"));

    const auto posted = events();
    ASSERT_EQ(posted.size(), 3u);
    std::string escapedLibrary; // the JSON text writes "/" as "\/"
    for (char c : "file://" + library)
        escapedLibrary += c == '/' ? std::string("\\/") : std::string(1, c);
    EXPECT_EQ(posted[0], "fs\fimportmediafile\f{\"url\":\"" + escapedLibrary + "my%20song.wav\"}");
    EXPECT_EQ(posted[2],
              "fs\fimportmediafile\f{\"url\":\"" + escapedLibrary + "my%20song_2.wav\"}");

    const std::string url = "file://" + library + "my%20song_1.wav";
    EXPECT_EQ(call("deletemediafile", {url}), "s" + library + "my song_1.wav");
    EXPECT_FALSE(stdfs::exists(library + "my song_1.wav"));
    EXPECT_EQ(call("deletemediafile", {url}), "s");
    EXPECT_EQ(call("mediafileinfo", {url}), "s");
}

TEST_F(FsModule, ImportStopsOnRealFailuresAndDeleteStaysInTheLibrary) {
    EXPECT_EQ(call("importmediafile", {root + "missing.wav"}), "eNo such file or directory");
    EXPECT_TRUE(events().empty());
    // A name without a dot is all extension: copies are numbered in front.
    const std::string plain = file("in/noext", "x");
    EXPECT_EQ(call("importmediafile", {plain}), "v");
    EXPECT_EQ(call("importmediafile", {plain}), "v");
    EXPECT_TRUE(stdfs::exists(paths.dataFolder + "data/_1noext"));

    const std::string outside = file("precious.txt", "keep");
    EXPECT_EQ(call("deletemediafile", {"file://" + outside}), "s");
    EXPECT_EQ(call("deletemediafile", {"file://" + paths.dataFolder + "data/../../precious.txt"}),
              "s");
    EXPECT_EQ(readFile(outside), "keep");
}

TEST(FsMediaUrl, EscapesWhatIsUnsafeInAUrl) {
    EXPECT_EQ(mediaUrl("/a b/%/\xC3\xA9#?.wav"), "file:///a%20b/%25/%C3%A9%23%3F.wav");
    EXPECT_EQ(mediaUrl("/plain-name_1+(2).wav"), "file:///plain-name_1+(2).wav");
    EXPECT_EQ(importRecord("/x y"), "{\"url\":\"file:\\/\\/\\/x%20y\"}");
}
