// The program's bridge console, run as a separate process with a fresh HOME.
#include "tests/support/console_process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx5;

#ifndef KX5_EXECUTABLE
#error "KX5_EXECUTABLE must name the built program"
#endif

namespace {

struct Console : ::testing::Test {
    test::TempDir home;
    test::ConsoleRun run(const std::vector<std::string>& lines) {
        return test::runConsole(KX5_EXECUTABLE, lines, {.home = home.path()});
    }
};

} // namespace

TEST_F(Console, AnswersCallsAndReportsBadLines) {
    auto r =
        run({R"(["$$util_bytes","Aé"])", R"(["$$util_text","410042"])", R"(["$$app_nonexistent"])",
             R"({"not":"an array"})", "[1]", "[\"wait\", \"x\"]", R"(["$$util_bytes"])"});
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_EQ(r.lines.size(), 7u);
    EXPECT_EQ(r.lines[0], R"({"r":"s41C3A9"})");
    EXPECT_EQ(r.lines[1], R"({"r":"sA"})");
    EXPECT_EQ(r.lines[2], R"({"r":"v"})");
    EXPECT_EQ(r.lines[3].rfind("{\"error\":", 0), 0u);
    EXPECT_EQ(r.lines[4].rfind("{\"error\":", 0), 0u);
    EXPECT_EQ(r.lines[5].rfind("{\"error\":", 0), 0u);
    EXPECT_EQ(r.lines[6], R"({"r":"s"})");
}

TEST_F(Console, PreferencesPersistAcrossProcesses) {
    EXPECT_EQ(test::valuesOf(run({R"(["$$app_storage"])"}), "r"), std::vector<std::string>{"s"});
    run({R"(["$$app_storage","{}"])"});
    EXPECT_EQ(test::valuesOf(run({R"(["$$app_storage"])"}), "r"), std::vector<std::string>{"s{}"});
    run({R"(["$$app_storage2","k","é"])"});
    struct stat st {};
    ASSERT_EQ(stat((home.path() + "data/velmar/kx5-editor/pref/k").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 2);
}

TEST_F(Console, ControlWordsWithoutColonAndDropFiles) {
    auto r = run(
        {R"(["$$app_control","indicator start"])", R"(["wait", 50])", R"(["$$app_dropfiles"])"});
    EXPECT_EQ(test::valuesOf(r, "e").size(), 0u);
    EXPECT_EQ(test::valuesOf(r, "r"), (std::vector<std::string>{"v", "s[]"}));
}

TEST_F(Console, PushedEventsAndExitEndTheSession) {
    auto r = run({R"(["$$app_startevent","true"])", R"(["$$app_control","nosuch:{}"])",
                  R"(["$$app_exit"])", R"(["$$util_bytes","never"])"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(test::valuesOf(r, "r"), (std::vector<std::string>{"b1", "v", "v"}));
}

TEST_F(Console, InstallsTheBundleIntoAFreshDataFolder) {
    run({});
    struct stat st {};
    EXPECT_EQ(stat((home.path() + "data/velmar/kx5-editor/html/index.html").c_str(), &st), 0);
}
