// The program's bridge console, run as a separate process with a fresh HOME.
#include "bridge/encoding.h"
#include "tests/support/console_process.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <csignal>
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

TEST_F(Console, DeepNestingIsRefusedClearlyAndTheSessionGoesOn) {
    std::string deepObjects;
    for (int i = 0; i < 50000; ++i)
        deepObjects += "{\"a\":";
    deepObjects += "1" + std::string(50000, '}');
    const std::string deepArrays = std::string(50000, '[') + std::string(50000, ']');
    auto r = run({"[\"$$util_text\"," + deepObjects + "]",
                  test::callLine({"$$midi_inconnect", deepObjects}),
                  test::callLine({"$$app_control", "wavstat:" + deepObjects}),
                  test::callLine({"$$midi_inconnect", deepArrays}), R"(["$$util_bytes","A"])"});
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_GE(r.lines.size(), 5u);
    EXPECT_EQ(r.lines[0], R"({"error":"JSON nested deeper than 100 levels"})");
    // A page call with such a text is an ordinary bad argument.
    EXPECT_EQ(test::valuesOf(r, "r"),
              (std::vector<std::string>{"esystem exception", "v", "esystem exception", "s41"}));
}

TEST_F(Console, EveryOutputLineIsValidJsonWhateverTheInputBytes) {
    auto r =
        run({"\xFF\xFE", "[\"\xC3\"]", "[\"$$util_bytes\",\"\xE2\x82\"]", "{\"\xED\xA0\x80\":1}"});
    ASSERT_EQ(r.lines.size(), 4u);
    for (const auto& line : r.lines) {
        picojson::value v;
        EXPECT_TRUE(picojson::parse(v, line).empty()) << line;
        EXPECT_EQ(fromUtf8(line), line) << "ill-formed UTF-8 in " << line;
    }
    EXPECT_EQ(r.lines[0], "{\"error\":\"syntax error at line 1 near: \xEF\xBF\xBD\xEF\xBF\xBD\"}");
    EXPECT_EQ(r.lines[2], R"({"r":"sEFBFBD"})");
}

TEST_F(Console, ExitAndTerminationEndItWhileItsInputStaysOpen) {
    {
        test::ConsoleProcess console(KX5_EXECUTABLE, {.home = home.path()});
        EXPECT_EQ(console.call({"$$app_exit"}), "v");
        // Its input is still open: the program ends by itself.
        EXPECT_EQ(console.process().waitExit(20000), 0);
    }
    for (const int signal : {SIGTERM, SIGINT}) {
        test::ConsoleProcess console(KX5_EXECUTABLE, {.home = home.path()});
        EXPECT_EQ(console.call({"$$app_storage", "{\"kept\":1}"}), "v");
        console.process().signal(signal);
        EXPECT_EQ(console.process().waitExit(20000), 0) << "signal " << signal;
    }
    EXPECT_EQ(test::valuesOf(run({R"(["$$app_storage"])"}), "r"),
              std::vector<std::string>{"s{\"kept\":1}"});
}
