// The program's private temporary folder: where it goes, what may stand in
// its way, and what happens when none can be made.
#include "bridge/app_paths.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

using namespace kx5;
namespace fs = std::filesystem;

namespace {

// Sets (or, with nullopt, unsets) a variable for the test's life.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// A folder of this user that only this user may enter.
bool isPrivateFolderOfOurs(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 0777) == 0700;
}

struct TempFolder : ::testing::Test {
    test::TempDir dir;
    const std::string ours = "velmar-" + std::to_string(::getuid()) + "-app";
};

} // namespace

TEST_F(TempFolder, GoesUnderTheRuntimeFolderWhenItIsOursElseUnderTheTempDirWithItsParents) {
    const std::string runtime = dir.file("runtime");
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime);
    ScopedEnv tmp("TMPDIR", dir.file("tmp/a/b"));
    EXPECT_EQ(ensurePrivateTempFolder("app"), runtime + "/velmar-app/");
    EXPECT_TRUE(isPrivateFolderOfOurs(runtime + "/velmar-app"));

    // A runtime folder that is not there, or a link, is passed over; the
    // temp dir is made with its parents.
    for (const std::string& other : {dir.file("gone"), dir.file("runtime-link")}) {
        SCOPED_TRACE(other);
        std::error_code ignored; // made once
        fs::create_directory_symlink(runtime, dir.file("runtime-link"), ignored);
        ScopedEnv xdgOther("XDG_RUNTIME_DIR", other);
        EXPECT_EQ(ensurePrivateTempFolder("app"), dir.file("tmp/a/b/" + ours + "/"));
        EXPECT_TRUE(isPrivateFolderOfOurs(dir.file("tmp/a/b/" + ours)));
    }
    // A folder others could enter is made private again.
    ScopedEnv noXdg("XDG_RUNTIME_DIR", std::nullopt);
    fs::permissions(dir.file("tmp/a/b/" + ours), fs::perms::all);
    EXPECT_EQ(ensurePrivateTempFolder("app"), dir.file("tmp/a/b/" + ours + "/"));
    EXPECT_TRUE(isPrivateFolderOfOurs(dir.file("tmp/a/b/" + ours)));
}

TEST_F(TempFolder, ANameAnotherUserTookFirstIsLeftAloneAndNeverInTheWay) {
    ScopedEnv noXdg("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnv tmp("TMPDIR", dir.path());
    const std::string claimed = dir.file(ours);
    const std::string target = dir.file("target");
    fs::create_directory(target);
    std::vector<std::string> claims = {"link", "file"};
    if (::geteuid() == 0) claims.push_back("another user's folder");
    for (const auto& claim : claims) {
        SCOPED_TRACE(claim);
        fs::remove_all(claimed);
        if (claim == "link")
            fs::create_directory_symlink(target, claimed);
        else if (claim == "file")
            ASSERT_TRUE(test::writeFile(claimed, "x"));
        else {
            fs::create_directory(claimed);
            ASSERT_EQ(::chown(claimed.c_str(), 54321, 54321), 0);
        }
        const std::string folder = ensurePrivateTempFolder("app");
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(folder.rfind(claimed + "-", 0), 0u) << folder;
        EXPECT_TRUE(isPrivateFolderOfOurs(folder));
        // The same one on every later start, and the claim untouched.
        EXPECT_EQ(ensurePrivateTempFolder("app"), folder);
        EXPECT_TRUE(fs::is_empty(target));
        EXPECT_TRUE(fs::exists(fs::symlink_status(claimed)));
    }
    // Once the name is free again, it is used.
    fs::remove_all(claimed);
    EXPECT_EQ(ensurePrivateTempFolder("app"), claimed + "/");
}

TEST_F(TempFolder, NoneThatCanExistIsAnEmptyAnswerWithTheReason) {
    ScopedEnv noXdg("XDG_RUNTIME_DIR", std::nullopt);
    ASSERT_TRUE(test::writeFile(dir.file("a-file"), "x"));
    ScopedEnv tmp("TMPDIR", dir.file("a-file/tmp"));
    std::string problem;
    EXPECT_EQ(ensurePrivateTempFolder("app", &problem), "");
    EXPECT_NE(problem.find(dir.file("a-file/tmp/")), std::string::npos) << problem;
    EXPECT_FALSE(ensurePrivateFolder(""));
    EXPECT_FALSE(ensurePrivateFolder(dir.file("a-file/x/")));
}
