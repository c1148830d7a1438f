#include "host/bundle_install.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace kx5;

namespace {

using kx5::test::readFile;

// Builds a ZIP archive in memory from (name, content) pairs.
std::string makeZip(const std::string& scratch,
                    const std::vector<std::pair<std::string, std::string>>& entries) {
    const std::string path = scratch + "made.zip";
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    for (const auto& [name, content] : entries) {
        if (name.back() == '/') {
            zip_dir_add(z, name.c_str(), ZIP_FL_ENC_UTF_8);
            continue;
        }
        zip_source_t* src = zip_source_buffer(z, content.data(), content.size(), 0);
        zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    }
    zip_close(z);
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    std::remove(path.c_str());
    return ss.str();
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

struct BundleInstall : ::testing::Test {
    test::TempDir dir;
    std::string data;
    std::string archive;
    void SetUp() override {
        data = dir.path() + "share/velmar/app/";
        archive = makeZip(
            dir.path(),
            {{"html/", ""}, {"html/index.html", "<html>one</html>"}, {"html/js/app.js", "1;"}});
    }
};

} // namespace

TEST_F(BundleInstall, FirstStartUnpacksAndLeavesTheMarker) {
    EXPECT_TRUE(installBundleArchive(data, archive, "B_1"));
    EXPECT_EQ(readFile(data + "html/index.html"), "<html>one</html>");
    EXPECT_EQ(readFile(data + "html/js/app.js"), "1;");
    EXPECT_EQ(readFile(data + "B_1.zip"), archive);
}

TEST_F(BundleInstall, SameIdWritesNothingAgainEvenWhenTheTreeIsGone) {
    ASSERT_TRUE(installBundleArchive(data, archive, "B_1"));
    std::filesystem::remove_all(data + "html");
    const std::string other = makeZip(dir.path(), {{"html/index.html", "two"}});
    EXPECT_TRUE(installBundleArchive(data, other, "B_1"));
    EXPECT_FALSE(exists(data + "html/index.html"));
    EXPECT_EQ(readFile(data + "B_1.zip"), archive);
}

TEST_F(BundleInstall, DeletedMarkerOrNewIdOrTmpUnpacksAgain) {
    ASSERT_TRUE(installBundleArchive(data, archive, "B_1"));
    std::remove((data + "B_1.zip").c_str());
    const std::string two = makeZip(dir.path(), {{"html/index.html", "two"}});
    EXPECT_TRUE(installBundleArchive(data, two, "B_1"));
    EXPECT_EQ(readFile(data + "html/index.html"), "two");
    // A new version unpacks over the old tree; old files stay.
    const std::string three = makeZip(dir.path(), {{"html/index.html", "three"}});
    EXPECT_TRUE(installBundleArchive(data, three, "B_2"));
    EXPECT_EQ(readFile(data + "html/index.html"), "three");
    EXPECT_TRUE(exists(data + "html/js/app.js"));
    // "tmp" always unpacks.
    EXPECT_TRUE(installBundleArchive(data, archive, "tmp"));
    EXPECT_TRUE(installBundleArchive(data, two, "tmp"));
    EXPECT_EQ(readFile(data + "html/index.html"), "two");
}

TEST_F(BundleInstall, EscapingEntriesFailTheInstallAndWriteNothingOutside) {
    for (const char* evil : {"../evil.txt", "html/../../evil.txt", "/tmp/kx5-evil-abs.txt"}) {
        const std::string bad = makeZip(dir.path(), {{"html/index.html", "ok"}, {evil, "x"}});
        EXPECT_FALSE(installBundleArchive(data, bad, "B_bad")) << evil;
        EXPECT_FALSE(exists(data + "B_bad.zip")) << "marker left for " << evil;
        EXPECT_FALSE(exists(dir.path() + "share/velmar/evil.txt"));
        EXPECT_FALSE(exists(dir.path() + "share/evil.txt"));
    }
    EXPECT_FALSE(exists("/tmp/kx5-evil-abs.txt"));
    EXPECT_FALSE(exists(data + "html/index.html"));
    // A later good archive with the same id installs.
    EXPECT_TRUE(installBundleArchive(data, archive, "B_bad"));
}

TEST_F(BundleInstall, GarbageArchiveFailsAndRetriesNextTime) {
    EXPECT_FALSE(installBundleArchive(data, "not a zip archive", "B_3"));
    EXPECT_FALSE(exists(data + "B_3.zip"));
    EXPECT_FALSE(installBundleArchive(data, "", "B_3"));
}

TEST_F(BundleInstall, StartAddressOfTheBuiltInBundle) {
    AppPaths paths;
    paths.appName = "kx5-test";
    paths.dataFolder = data;
    const std::string url = installBundle(paths);
    EXPECT_EQ(url, "file://" + data + "html/index.html");
    EXPECT_TRUE(exists(data + "html/index.html"));
}
