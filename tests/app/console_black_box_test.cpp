// The program's bridge console, run as a separate process with a fresh HOME.
#include "bridge/encoding.h"
#include "tests/support/console_process.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

TEST_F(Console, NumbersOutOfRangeAreRefusedClearlyAndTheSessionGoesOn) {
    auto r = run({"[1e999]", R"(["wait",-1e400])",
                  test::callLine({"$$midi_inconnect", "{\"a\":55e5555555}"}),
                  test::callLine({"$$app_control", "wavstat:{\"path\":1e309}"}),
                  R"(["$$util_bytes","A"])"});
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_GE(r.lines.size(), 4u);
    EXPECT_EQ(r.lines[0], R"({"error":"a JSON number out of range"})");
    EXPECT_EQ(r.lines[1], R"({"error":"a JSON number out of range"})");
    EXPECT_EQ(test::valuesOf(r, "r"), (std::vector<std::string>{"esystem exception", "v", "s41"}));
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

TEST_F(Console, WritesKilledOnTheWayLeaveWholeFilesAndNoLitter) {
    const std::string pref = home.path() + "data/velmar/kx5-editor/pref/";
    const std::string config = home.path() + "config/velmar/kx5-editor/";
    run({R"(["$$app_storage2","k","old"])", R"(["$$app_storage","old"])"});
    const std::string big(2 << 20, 'n');
    std::signal(SIGPIPE, SIG_IGN); // lines sent to a console already killed
    for (int i = 0; i < 6; ++i) {
        // Killed the moment a name other than the final one appears in a
        // folder it writes to: in the middle of a write.
        const int watch = inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        for (const auto& folder : {pref, config})
            ASSERT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO), 0);
        test::ConsoleProcess console(KX5_EXECUTABLE, {.home = home.path()});
        std::atomic<bool> done{false};
        std::thread killer([&] {
            alignas(inotify_event) char events[4096];
            pollfd p{watch, POLLIN, 0};
            while (!done) {
                if (poll(&p, 1, 20) <= 0) continue;
                const ssize_t n = read(watch, events, sizeof events);
                bool other = false;
                for (ssize_t at = 0; at < n;) {
                    const auto* e = reinterpret_cast<const inotify_event*>(events + at);
                    const std::string name = e->len ? e->name : "";
                    if (name != "k" && name != "settings.ini") other = true;
                    at += ssize_t(sizeof(inotify_event) + e->len);
                }
                if (other) break;
            }
            console.process().signal(SIGKILL);
        });
        for (int n = 0; n < 4; ++n) {
            console.send(test::callLine({"$$app_storage2", "k", big}));
            console.send(test::callLine({"$$app_storage", big}));
        }
        // Until every write answered or the killer struck.
        std::string line;
        for (int answers = 0; answers < 8 && console.readLine(line, 20000);)
            answers += line.rfind("{\"r\":", 0) == 0 ? 1 : 0;
        done = true;
        killer.join();
        console.process().waitExit(20000);
        close(watch);
    }
    const auto r = run({R"(["$$app_storage2","k"])", R"(["$$app_storage"])"});
    const auto values = test::valuesOf(r, "r");
    ASSERT_EQ(values.size(), 2u);
    for (const auto& v : values)
        EXPECT_TRUE(v == "sold" || v == "s" + big) << "a part: " << v.size() << " bytes";
    std::vector<std::string> left;
    for (const auto& folder : {pref, config})
        for (const auto& e : std::filesystem::directory_iterator(folder))
            left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"k", "settings.ini"}));
}
