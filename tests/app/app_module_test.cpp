#include "bridge/app_paths.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "bridge/ui_queue_glib.h"
#include "modules/app/control_channel.h"
#include "modules/app/native_call_app.h"
#include "modules/app/settings_file.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kx5;

namespace {

using kx5::test::readFile;

class TestInterface final : public JavaScriptInterface {
  public:
    using JavaScriptInterface::JavaScriptInterface;
    void navigate(const std::string& url) override { navigated.push_back(url); }
    void processEvent() override {}
    void requestClose() override { ++closeRequests; }
    std::vector<std::string> navigated;
    int closeRequests = 0;
};

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

struct AppModule : ::testing::Test {
    test::TempDir dir;
    GMainContext* context = g_main_context_new();
    std::unique_ptr<GlibUiQueue> ui;
    std::unique_ptr<TestInterface> js;
    AppPaths paths;
    std::unique_ptr<NativeObjects> objects;
    std::unique_ptr<ControlChannel> control;
    std::unique_ptr<NativeCall_app> app;
    ModuleTable table;

    void SetUp() override {
        g_main_context_push_thread_default(context);
        ui = std::make_unique<GlibUiQueue>(context);
        js = std::make_unique<TestInterface>(*ui);
        paths.appName = "kx5-test";
        paths.dataFolder = dir.path() + "data/velmar/kx5-test/";
        paths.configFolder = dir.path() + "config/velmar/kx5-test/";
        paths.tempFolder = dir.path();
        objects = std::make_unique<NativeObjects>(*js, paths);
        control = std::make_unique<ControlChannel>(*js, defaultControlTable());
        app = std::make_unique<NativeCall_app>(objects.get(), *control);
        app->registerIn(table);
    }
    void TearDown() override {
        app.reset();
        control.reset();
        objects.reset();
        js.reset();
        ui.reset();
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }
    std::string call(const std::string& name, Args args = {}) {
        return dispatchCall(table, name, std::move(args));
    }
    void pump() {
        while (g_main_context_iteration(context, FALSE)) {
        }
    }
};

} // namespace

TEST_F(AppModule, PreferenceTextRoundTripsThroughTheSettingsFile) {
    EXPECT_EQ(call("$$app_storage"), "s");
    EXPECT_EQ(call("$$app_storage", {"{}"}), "v");
    EXPECT_EQ(call("$$app_storage"), "s{}");
    // Another reader (a new process) sees the same value.
    SettingsFile reread(settingsFilePath(paths.configFolder));
    EXPECT_EQ(reread.get("page", "pref").value_or("?"), "{}");
    const std::string tricky = "{\"a\":\"\xC3\xA9\\n line\",\n \"b\": \" lead\"}\t";
    call("$$app_storage", {tricky});
    EXPECT_EQ(call("$$app_storage"), "s" + tricky);
    call("$$app_storage", {""});
    EXPECT_EQ(call("$$app_storage"), "s");
}

TEST_F(AppModule, KeyedStorageWritesUtf8FilesAndRefusesPathKeys) {
    EXPECT_EQ(call("$$app_storage2"), "s");
    EXPECT_EQ(call("$$app_storage2", {"missing"}), "s");
    EXPECT_EQ(call("$$app_storage2", {"k", "\xC3\xA9"}), "s");
    EXPECT_EQ(readFile(paths.dataFolder + "pref/k"), "\xC3\xA9");
    EXPECT_EQ(call("$$app_storage2", {"k"}), "s\xC3\xA9");
    EXPECT_EQ(call("$$app_storage2", {"empty", ""}), "s");
    EXPECT_TRUE(exists(paths.dataFolder + "pref/empty"));
    EXPECT_EQ(readFile(paths.dataFolder + "pref/empty"), "");
    for (const char* bad : {"../escape", "a/b", ".", "..", ""}) {
        EXPECT_EQ(call("$$app_storage2", {bad, "x"}), "s") << bad;
        EXPECT_EQ(call("$$app_storage2", {bad}), "s") << bad;
    }
    EXPECT_FALSE(exists(paths.dataFolder + "escape"));
    EXPECT_FALSE(exists(paths.dataFolder + "pref/a"));
    // A file holding a NUL reads up to it.
    std::ofstream(paths.dataFolder + "pref/nul", std::ios::binary) << std::string("ab\0cd", 5);
    EXPECT_EQ(call("$$app_storage2", {"nul"}), "sab");
}

TEST_F(AppModule, ClipboardDropFilesAndInertCalls) {
    EXPECT_EQ(call("$$app_clipboard"), "s");
    EXPECT_EQ(call("$$app_clipboard", {"copied \xE2\x82\xAC"}), "v");
    EXPECT_EQ(call("$$app_clipboard"), "scopied \xE2\x82\xAC");
    EXPECT_EQ(call("$$app_dropfiles"), "s[]");
    objects->droppedFiles = {"/home/u/a b.wav", "/x/\"q\".wav"};
    // The JSON writer escapes "/" as "\/"; JSON.parse on the page reads it back.
    const std::string expected = R"(s["\/home\/u\/a b.wav","\/x\/\"q\".wav"])";
    EXPECT_EQ(call("$$app_dropfiles"), expected);
    EXPECT_EQ(call("$$app_dropfiles"), expected); // the list is not cleared
    EXPECT_EQ(call("$$app_importfile", {"[]"}), "v");
    EXPECT_EQ(call("$$app_exportfile", {"/x"}), "v");
    EXPECT_EQ(call("$$app_ready"), "v");
    pump();
    EXPECT_EQ(js->pullEvent(), "");
}

TEST_F(AppModule, EventSwitchesAndHostOperations) {
    EXPECT_EQ(call("$$app_startevent"), "b1");
    EXPECT_FALSE(js->pushEnabled());
    EXPECT_EQ(call("$$app_startevent", {"true"}), "b1");
    EXPECT_TRUE(js->pushEnabled());
    EXPECT_EQ(call("$$app_startevent", {"no"}), "b1");
    EXPECT_FALSE(js->pushEnabled());
    js->postEvent("a\fb");
    EXPECT_EQ(call("$$app_getevent"), "sa\fb");
    EXPECT_EQ(call("$$app_getevent"), "s");
    call("$$app_dragdrop", {"1"});
    EXPECT_TRUE(js->dragDropEnabled);
    call("$$app_dragdrop", {"off"});
    EXPECT_FALSE(js->dragDropEnabled);
    call("$$app_locate", {"file:///x/index.html"});
    call("$$app_locate");
    EXPECT_EQ(js->navigated, std::vector<std::string>{"file:///x/index.html"});
    EXPECT_EQ(call("$$app_exit"), "v");
    EXPECT_EQ(js->closeRequests, 1);
}

TEST_F(AppModule, ControlRequestsAreAnsweredInPostOrderOnTheUiThread) {
    std::vector<std::string> seen;
    control->setHandlers(1, {"",
                             [&](const picojson::object& args, picojson::object& result) {
                                 seen.push_back(args.at("path").get<std::string>());
                                 result["zeta"] = picojson::value(2.0);
                                 result["alpha"] = picojson::value("x");
                                 result["result"] = picojson::value("overwritten");
                                 return true;
                             },
                             {}});
    call("$$app_control", {"wavstat:{\"path\":\"/one\"}"});
    call("$$app_control", {"wavstat:{\"path\":\"/two\"}"});
    EXPECT_TRUE(seen.empty()); // nothing runs inside the call itself
    pump();
    EXPECT_EQ(seen, (std::vector<std::string>{"/one", "/two"}));
    EXPECT_EQ(js->pullEvent(), "app\fcommand\fwavstat\f{\"alpha\":\"x\",\"result\":1,\"zeta\":2}");
    EXPECT_EQ(js->pullEvent(), "app\fcommand\fwavstat\f{\"alpha\":\"x\",\"result\":1,\"zeta\":2}");
}

TEST_F(AppModule, MalformedOrUnknownRequestsGetNoAnswer) {
    int runs = 0;
    control->setHandlers(0, {"",
                             [&](const picojson::object& args, picojson::object&) {
                                 ++runs;
                                 // A missing member is a JSON type error.
                                 return args.at("req").get<std::string>() == "x";
                             },
                             {}});
    for (const char* r : {"indicator start", "indicator stop", "", "nosuch:{}", "convert:[1]",
                          "convert:not json", "convert:", "convert:{\"req\":5}"})
        call("$$app_control", {r});
    call("$$app_control");
    pump();
    EXPECT_EQ(js->pullEvent(), "");
    EXPECT_EQ(runs, 2); // "convert:" with an empty object, and req 5
    call("$$app_control", {"convert:{\"req\":\"other\"}"});
    pump();
    EXPECT_EQ(js->pullEvent(), "app\fcommand\fconvert\f{\"result\":0}");
}

TEST_F(AppModule, WorkerCompletionIsAnsweredAfterEarlierRequests) {
    control->setHandlers(0, {"",
                             [&](const picojson::object&, picojson::object& r) {
                                 r["req"] = picojson::value("queued");
                                 return true;
                             },
                             [&](picojson::object& r) {
                                 r["load"] = picojson::value("finished");
                                 return true;
                             }});
    call("$$app_control", {"convert:{}"});
    std::atomic<bool> signalled{false};
    std::thread worker([&] {
        control->signalDone(0);
        signalled = true;
    });
    while (!signalled) {
        g_main_context_iteration(context, FALSE);
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(js->pullEvent(), "app\fcommand\fconvert\f{\"req\":\"queued\",\"result\":1}");
    EXPECT_EQ(js->pullEvent(), "app\fcommand\fconvert\f{\"load\":\"finished\",\"result\":1}");
    // Indices without a completion handler, or out of range, answer nothing.
    control->handleControlDone(1);
    control->handleControlDone(7);
    control->handleControlDone(-1);
    EXPECT_EQ(js->pullEvent(), "");
}

namespace {

// The names in folder that start with prefix.
std::vector<std::string> namesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) == 0) out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST_F(AppModule, ADamagedSettingsFileIsKeptAsideReportedAndWritesWorkAgain) {
    const std::string settings = settingsFilePath(paths.configFolder);
    std::string random(4096, '\0');
    for (size_t i = 0; i < random.size(); ++i)
        random[i] = char((i * 7919 + 13) % 251);
    const std::string good = "[page]\npref={\"port\":\"KX-5\"}\n[window]\nx=10\n";
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"random bytes", random},
        {"cut short", good.substr(0, 20)},
        {"a NUL byte", "[page]\npref={\"port\":\0\"KX-5\"}\n"},
        {"bytes that are not text", "[page]\npref={\"port\":\"\xFF\"}\n"},
        {"no group", std::string(1 << 20, 'x') + "\n"},
    };
    std::filesystem::create_directories(paths.configFolder);
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(test::writeFile(settings, bytes));
        testing::internal::CaptureStderr();
        EXPECT_EQ(call("$$app_storage"), "s");
        const std::string report = testing::internal::GetCapturedStderr();
        const auto aside = namesStartingWith(paths.configFolder, "settings.ini.damaged-");
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(readFile(paths.configFolder + aside[0]), bytes) << "nothing of it is lost";
        EXPECT_NE(report.find(settings + " is damaged"), std::string::npos) << report;
        EXPECT_NE(report.find(aside[0]), std::string::npos) << report;
        EXPECT_EQ(call("$$app_storage", {"{\"new\":1}"}), "v");
        EXPECT_EQ(call("$$app_storage"), "s{\"new\":1}");
        std::filesystem::remove(paths.configFolder + aside[0]);
    }
    // A folder in the file's place goes aside whole and saves work again.
    std::filesystem::remove(settings);
    std::filesystem::create_directories(settings + "/inside");
    testing::internal::CaptureStderr();
    EXPECT_EQ(call("$$app_storage", {"{\"after\":\"folder\"}"}), "v");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(call("$$app_storage"), "s{\"after\":\"folder\"}");
    const auto aside = namesStartingWith(paths.configFolder, "settings.ini.damaged-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(paths.configFolder + aside[0] + "/inside"));
    // A sound file is used as it is and never set aside.
    ASSERT_TRUE(test::writeFile(settings, good));
    EXPECT_EQ(call("$$app_storage"), "s{\"port\":\"KX-5\"}");
    EXPECT_EQ(namesStartingWith(paths.configFolder, "settings.ini.damaged-").size(), 1u);
}

TEST_F(AppModule, TemporaryFilesOfEarlierRunsGoAtStartButNothingElse) {
    const std::string pref = paths.dataFolder + "pref/";
    std::filesystem::create_directories(pref);
    std::filesystem::create_directories(paths.configFolder);
    for (const char* name :
         {"lastPath", ".lastPath.writing-Ab12Cd", "lastPath.Xy34Zw", "marks.AbCdEf", "notes.txt",
          "lastPath.longer-name", ".hidden.writing-toolong1", "lastPath.Ab12C"})
        ASSERT_TRUE(test::writeFile(pref + name, "x"));
    std::filesystem::create_directory(pref + ".dir.writing-Ab12Cd");
    ASSERT_TRUE(test::writeFile(paths.configFolder + "settings.ini", "[page]\npref=1\n"));
    ASSERT_TRUE(test::writeFile(paths.configFolder + "settings.ini.Qw12Er", "[page]\n"));
    ASSERT_TRUE(test::writeFile(paths.configFolder + ".settings.ini.writing-Qw12Er", "[pa"));
    // One that a running writer holds stays.
    ASSERT_TRUE(test::writeFile(pref + ".marks.writing-Held00", "x"));
    const int held = open((pref + ".marks.writing-Held00").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    // A new start of the module.
    app.reset();
    app = std::make_unique<NativeCall_app>(objects.get(), *control);
    close(held);
    EXPECT_EQ(namesStartingWith(pref, ""),
              (std::vector<std::string>{".dir.writing-Ab12Cd", ".hidden.writing-toolong1",
                                        ".marks.writing-Held00", "lastPath", "lastPath.Ab12C",
                                        "lastPath.longer-name", "marks.AbCdEf", "notes.txt"}));
    EXPECT_EQ(namesStartingWith(paths.configFolder, ""), std::vector<std::string>{"settings.ini"});
}
