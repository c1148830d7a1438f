// The real program under Xvfb, driven through WebKitWebDriver: the page
// bridge, events, navigation, origins, browser requests, the window, the
// file dialogs. Screenshots and logs go to the artifacts folder.
#include "tests/host/e2e/program_under_test.h"
#include "tests/host/e2e/shared_world_test.h"
#include "tests/host/e2e/x11_session.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/local_http_server.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <csignal>

using namespace kx5::e2e;

namespace {

using kx5::test::readFile;

picojson::array texts(const picojson::value& v) {
    return v.is<picojson::array>() ? v.get<picojson::array>() : picojson::array{};
}

std::vector<std::string> stringsOf(const picojson::value& v) {
    std::vector<std::string> out;
    for (const auto& e : texts(v))
        out.push_back(e.is<std::string>() ? e.get<std::string>() : e.serialize());
    return out;
}

class EndToEnd : public SharedWorldTest {
  protected:
    std::unique_ptr<ProgramUnderTest> start(ProgramOptions options = {}) {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        auto p = std::make_unique<ProgramUnderTest>(*world, home,
                                                    name + "-" + std::to_string(++starts), options);
        return p;
    }
    // The "app" and "fs" events the page's handlers received so far (each a
    // field list); other modules have their own tests.
    static constexpr const char* kOurs =
        "$handled.filter(function (f) { return f[0] === 'app' || f[0] === 'fs'; })";
    static std::vector<std::string> handled(WebDriver& d) {
        return stringsOf(d.execute(std::string("return ") + kOurs +
                                   ".map(function (f) { return f.join('|'); })"));
    }
    static bool waitHandled(WebDriver& d, size_t n) {
        return d.waitFor(std::string("return ") + kOurs + ".length >= " + std::to_string(n), 30000);
    }

    TestHome home;
    int starts = 0;
};

} // namespace

TEST_F(EndToEnd, PageCallsRunSynchronouslyAndGetTypedResults) {
    auto p = start();
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    EXPECT_EQ(d.execute("return call('$$util_bytes', 'A\\u00e9')").to_str(), "41C3A9");
    EXPECT_EQ(d.execute("return rawCall('$$util_bytes', 'A\\u00e9')").to_str(), "s41C3A9");
    // Every argument reaches the host as text, at most two of them.
    EXPECT_EQ(
        d.execute("return chrome.webview.hostObjects.sync.native('$$util_bytes', 5, 'x', 'y')")
            .to_str(),
        "s35");
    EXPECT_EQ(d.execute("return rawCall('$$app_startevent')").to_str(), "b1");
    EXPECT_EQ(d.execute("return call('$$app_startevent') === true").get<bool>(), true);
    EXPECT_EQ(d.execute("return rawCall('$$nosuch_call')").to_str(), "v");
    EXPECT_EQ(d.execute("return rawCall('no-underscore')").to_str(), "v");
    EXPECT_EQ(d.execute("return chrome.webview.hostObjects.sync.native()").to_str(), "v");
    EXPECT_EQ(d.execute("try { call('$$fs_openfilename', '[\"wav\", 5]'); return 'no error' } "
                        "catch (e) { return e.message }")
                  .to_str(),
              "system exception");
    EXPECT_NE(d.execute("return navigator.userAgent").to_str().find(" velmar.lattice(Linux)"),
              std::string::npos);
    p->screenshot("bridge-page");
    EXPECT_EQ(p->close(), 0);
}

TEST_F(EndToEnd, EventsReachThePageInOrderAndUnchanged) {
    ProgramOptions options;
    options.arguments = {"/first start/arg one.wav"};
    auto p = start(options);
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    // The program's own argument waits until the page starts delivery.
    EXPECT_TRUE(handled(d).empty());
    d.execute("return startEvents()");
    ASSERT_TRUE(waitHandled(d, 1));
    // A later start hands its arguments over and ends at once.
    EXPECT_EQ(p->startAgain({"C:\\a'b", "line1\nline2", "/data/My IR file.wav", "tab\there\rcr"}),
              0);
    ASSERT_TRUE(waitHandled(d, 5));
    EXPECT_EQ(handled(d),
              (std::vector<std::string>{"app|command|open|/first start/arg one.wav",
                                        "app|command|open|C:\\a'b", "app|command|open|line1\nline2",
                                        "app|command|open|/data/My IR file.wav",
                                        "app|command|open|tab\there\rcr"}));
    EXPECT_EQ(p->close(), 0);
}

TEST_F(EndToEnd, ANewDocumentGetsEventsOnlyAfterItStartsDeliveryItself) {
    auto p = start();
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    d.execute("startEvents(); location.hash = 'x'; return true");
    // Same document, another fragment: delivery stays on.
    EXPECT_EQ(p->startAgain({"same document"}), 0);
    ASSERT_TRUE(waitHandled(d, 1));
    EXPECT_EQ(handled(d), (std::vector<std::string>{"app|command|open|same document"}));

    d.navigate(ProgramUnderTest::pageUrl("other.html"));
    ASSERT_TRUE(d.waitFor("return document.title === 'Second document'", 30000));
    EXPECT_EQ(p->startAgain({"queued while off"}), 0);
    // A call round trip: anything pushed by now would have been run first.
    d.execute("return call('$$util_bytes', 'x')");
    EXPECT_TRUE(handled(d).empty());
    // Device events ("midi" "changed" at start-up) may be queued too; only the app event matters.
    EXPECT_EQ(d.execute("for (let i = 0; i < 20; ++i) {"
                        "  const e = call('$$app_getevent');"
                        "  if (e === '' || e.startsWith('app\\f')) return e;"
                        "} return 'no app event';")
                  .to_str(),
              "app\fcommand\fopen\fqueued while off");
    EXPECT_EQ(p->startAgain({"after start"}), 0);
    d.execute("return startEvents()");
    ASSERT_TRUE(waitHandled(d, 1));
    EXPECT_EQ(handled(d), (std::vector<std::string>{"app|command|open|after start"}));

    // Reloading makes a new document too.
    d.execute("location.reload(); return true");
    ASSERT_TRUE(
        d.waitFor("return document.readyState === 'complete' && $handled.length === 0", 30000));
    EXPECT_EQ(p->startAgain({"after reload"}), 0);
    d.execute("return call('$$util_bytes', 'x')");
    EXPECT_TRUE(handled(d).empty());
    d.execute("return startEvents()");
    ASSERT_TRUE(waitHandled(d, 1));
    EXPECT_EQ(handled(d), (std::vector<std::string>{"app|command|open|after reload"}));
    EXPECT_EQ(p->close(), 0);
}

TEST_F(EndToEnd, OnlyDocumentsOfTheBundleReachNative) {
    const std::string foreignPage =
        "<!doctype html><title>foreign</title><script>"
        "var has = !!(window.chrome && chrome.webview && chrome.webview.hostObjects);"
        "window.$has = has; if (parent !== window) parent.postMessage('foreign:' + has, "
        "'*');</script>";
    kx5::test::LocalHttpServer foreign;
    foreign.route("GET", "/", [&](kx5::test::HttpExchange& x) {
        x.respond(200, foreignPage, true, "text/html; charset=utf-8");
    });
    auto p = start();
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    d.navigate(ProgramUnderTest::pageUrl("frames.html"));
    ASSERT_TRUE(d.waitFor(
        "return window.$childHasNative !== undefined && window.$inlineHasNative !== undefined",
        30000));
    EXPECT_EQ(d.execute("return [hasNative(), $childHasNative, $inlineHasNative]").serialize(),
              "[true,true,true]");
    // Permissions are granted to the program's own pages only.
    const char* askPermission =
        "window.$permission = null; navigator.geolocation.getCurrentPosition("
        "function () { $permission = 'granted'; },"
        "function (e) { $permission = e.code === e.PERMISSION_DENIED ? 'denied' : 'granted'; });"
        "return true";
    d.execute(askPermission);
    ASSERT_TRUE(d.waitFor("return $permission !== null", 30000));
    EXPECT_EQ(d.execute("return $permission").to_str(), "granted");

    // A foreign page inside a bundle page gets nothing.
    d.execute(
        "window.$foreign = null; addEventListener('message', function (e) { $foreign = e.data; });"
        "var f = document.createElement('iframe'); f.src = arguments[0]; "
        "document.body.appendChild(f);"
        "return true",
        {picojson::value(foreign.url("/"))});
    ASSERT_TRUE(d.waitFor("return $foreign !== null", 30000));
    EXPECT_EQ(d.execute("return $foreign").to_str(), "foreign:false");

    // A foreign page on its own gets nothing.
    d.navigate(foreign.url("/"));
    ASSERT_TRUE(d.waitFor("return window.$has !== undefined", 30000));
    EXPECT_FALSE(d.execute("return $has").get<bool>());
    d.execute(askPermission);
    ASSERT_TRUE(d.waitFor("return $permission !== null", 30000));
    EXPECT_EQ(d.execute("return $permission").to_str(), "denied");

    // A local file outside the bundle gets nothing, and bundle pages it
    // frames get nothing either.
    const std::string outside = home.path() + "/outside.html";
    std::ofstream(outside) << "<!doctype html><title>outside</title><iframe src=\""
                           << ProgramUnderTest::pageUrl("child.html") << "\"></iframe>";
    d.navigate("file://" + outside);
    ASSERT_TRUE(d.waitFor(
        "return document.title === 'outside' && window.$childHasNative !== undefined", 30000));
    EXPECT_EQ(d.execute("return [!!(window.chrome && chrome.webview.hostObjects), $childHasNative]")
                  .serialize(),
              "[false,false]");
    p->screenshot("outside-page");
    EXPECT_EQ(p->close(), 0);
}

TEST_F(EndToEnd, IframeTextMessagesBecomeEvents) {
    auto p = start();
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    d.navigate(ProgramUnderTest::pageUrl("frames.html"));
    ASSERT_TRUE(d.waitFor("return !!(frames[0].sendToHost)", 30000));
    d.execute("startEvents(); var c = frames[0];"
              "c.sendToHost({not: 'a text'}); c.sendToHost(42); c.sendToHost('hello\\nframe');"
              "chrome.webview.postMessage('top-level messages are dropped'); return true");
    EXPECT_EQ(p->startAgain({"marker"}), 0);
    ASSERT_TRUE(waitHandled(d, 2));
    EXPECT_EQ(handled(d), (std::vector<std::string>{"app|iframe|child|hello\nframe",
                                                    "app|command|open|marker"}));
    EXPECT_EQ(p->close(), 0);
}

TEST_F(EndToEnd, FileLinksBecomeOpenEventsAndDownloadsAreCancelled) {
    auto p = start();
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    d.execute("return startEvents()");
    d.click(d.findElement("#fileLink"));
    ASSERT_TRUE(waitHandled(d, 1));
    d.execute("window.open('file:///tmp/opened%20by%20script.wav'); return true");
    ASSERT_TRUE(waitHandled(d, 2));
    // With drops handled by the page, file links open nothing and say nothing.
    d.execute("call('$$app_dragdrop', 'true'); return true");
    d.click(d.findElement("#fileLink"));
    d.execute("call('$$app_dragdrop', 'false'); return true");
    d.click(d.findElement("#download"));
    ASSERT_TRUE(waitHandled(d, 3));
    const auto events = handled(d);
    EXPECT_EQ(events[0], "app|command|open|/tmp/My IR+1.wav");
    EXPECT_EQ(events[1], "app|command|open|/tmp/opened by script.wav");
    EXPECT_EQ(events[2], "app|command|download|" + ProgramUnderTest::pageUrl("data.bin"));
    EXPECT_EQ(events.size(), 3u);
    EXPECT_EQ(d.currentUrl(), ProgramUnderTest::pageUrl("index.html"));
    // Nothing was written by the cancelled download.
    for (const char* folder : {"/Downloads", "/data/Downloads"})
        EXPECT_FALSE(std::filesystem::exists(home.path() + folder + "/data.bin"));
    EXPECT_EQ(p->close(), 0);
}

TEST_F(EndToEnd, WindowTitleFollowsThePage) {
    auto p = start();
    ASSERT_TRUE(p->ready());
    X11Session x(world->display());
    ASSERT_TRUE(x.ok());
    EXPECT_TRUE(x.waitForWindow("Bridge test page", 30000));
    p->driver().execute("document.title = 'Renamed \\u00e9'; return true");
    EXPECT_TRUE(x.waitForWindow("Renamed \xC3\xA9", 30000));
    EXPECT_EQ(p->close(), 0);
    EXPECT_TRUE(x.waitForWindowGone("Renamed \xC3\xA9", 30000));
}

TEST_F(EndToEnd, PlacementIsSavedAtCloseAndRestoredAtTheNextStart) {
    {
        auto p = start();
        ASSERT_TRUE(p->ready());
        auto rect = p->driver().windowRect();
        // Opened at the default client size.
        EXPECT_EQ(rect["width"].get<double>(), 1160);
        EXPECT_EQ(rect["height"].get<double>(), 618);
        p->driver().setWindowRect(60, 40, 900, 700);
        p->screenshot("before-close");
        // SIGTERM closes the way the user closing the window does.
        EXPECT_EQ(p->close(), 0);
    }
    const std::string saved = readFile(home.settingsFile());
    EXPECT_NE(saved.find("width=900"), std::string::npos) << saved;
    EXPECT_NE(saved.find("height=700"), std::string::npos) << saved;
    EXPECT_NE(saved.find("maximized=0"), std::string::npos) << saved;
    {
        auto p = start();
        ASSERT_TRUE(p->ready());
        auto rect = p->driver().windowRect();
        EXPECT_EQ(rect["x"].get<double>(), 60);
        EXPECT_EQ(rect["y"].get<double>(), 40);
        EXPECT_EQ(rect["width"].get<double>(), 900);
        EXPECT_EQ(rect["height"].get<double>(), 700);
        // The minimum size holds.
        p->driver().setWindowRect(60, 40, 300, 200);
        rect = p->driver().windowRect();
        EXPECT_GE(rect["width"].get<double>(), 760);
        EXPECT_GE(rect["height"].get<double>(), 618);
        p->process().signal(SIGINT);
        EXPECT_EQ(p->process().waitExit(30000), 0);
    }
}

TEST_F(EndToEnd, APlaceSavedOffScreenOpensOnScreenAndIsSavedSo) {
    std::filesystem::create_directories(std::filesystem::path(home.settingsFile()).parent_path());
    kx5::test::writeFile(home.settingsFile(),
                         "[window]\nx=-99999\ny=-99999\nwidth=900\nheight=700\nmaximized=0\n");
    {
        auto p = start();
        ASSERT_TRUE(p->ready());
        auto rect = p->driver().windowRect();
        // On the 1280x800 screen, at its size.
        EXPECT_EQ(rect["x"].get<double>(), 0);
        EXPECT_EQ(rect["y"].get<double>(), 0);
        EXPECT_EQ(rect["width"].get<double>(), 900);
        EXPECT_EQ(rect["height"].get<double>(), 700);
        EXPECT_EQ(p->close(), 0);
    }
    const std::string saved = readFile(home.settingsFile());
    EXPECT_NE(saved.find("x=0\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("y=0\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("99999"), std::string::npos) << saved;
}

TEST_F(EndToEnd, ResumeFromSuspendPostsOneWakeupEvent) {
    auto p = start();
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    d.execute("return startEvents()");
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        world->busAddress().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    ASSERT_TRUE(bus) << error->message;
    // This test plays logind on the private bus.
    GVariant* owned = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.login1", 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
        nullptr, &error);
    ASSERT_TRUE(owned) << error->message;
    g_variant_unref(owned);
    // The program subscribes shortly after start; a round trip through the
    // page makes sure it is up and running.
    d.execute("return call('$$util_bytes', 'x')");
    for (gboolean sleeping : {gboolean{TRUE}, gboolean{FALSE}}) {
        g_dbus_connection_emit_signal(bus, nullptr, "/org/freedesktop/login1",
                                      "org.freedesktop.login1.Manager", "PrepareForSleep",
                                      g_variant_new("(b)", sleeping), nullptr);
    }
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    EXPECT_EQ(p->startAgain({"marker"}), 0);
    ASSERT_TRUE(waitHandled(d, 2));
    EXPECT_EQ(handled(d), (std::vector<std::string>{"app|command|wakeup|PBT_APMRESUMESUSPEND",
                                                    "app|command|open|marker"}));
    g_object_unref(bus);
    EXPECT_EQ(p->close(), 0);
}

TEST_F(EndToEnd, EachFileDialogAnswersWithExactlyOneEvent) {
    const std::string files = home.path() + "/files";
    std::filesystem::create_directories(files + "/sub folder");
    std::ofstream(files + "/ir.wav") << "RIFF";
    auto p = start();
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    X11Session x(world->display());
    ASSERT_TRUE(x.ok());
    d.execute("return startEvents()");

    // Open: the call answers at once; the dialog follows.
    EXPECT_TRUE(
        d.execute("return call('$$fs_openfilename', '[\"wav\"]', arguments[0]) === undefined",
                  {picojson::value(files)})
            .get<bool>());
    ASSERT_TRUE(x.waitForWindow("Open File", 30000));
    ASSERT_TRUE(x.focusWindow("Open File"));
    x.pressKey("l", true);
    x.typeText(files + "/ir.wav");
    p->screenCapture("open-dialog");
    x.pressKey("Return");
    ASSERT_TRUE(waitHandled(d, 1));
    EXPECT_TRUE(x.waitForWindowGone("Open File", 30000));

    // Cancelled: the same event with an empty path.
    d.execute("return call('$$fs_openmediafile')");
    ASSERT_TRUE(x.waitForWindow("Open File", 30000));
    ASSERT_TRUE(x.focusWindow("Open File"));
    x.pressKey("Escape");
    ASSERT_TRUE(waitHandled(d, 2));

    // Save: a typed name without extension gets the default one.
    d.execute("return call('$$fs_savefilename', 'backup', 'bin')");
    ASSERT_TRUE(x.waitForWindow("Save File", 30000));
    ASSERT_TRUE(x.focusWindow("Save File"));
    x.pressKey("a", true);
    x.typeText(files + "/mybackup");
    p->screenCapture("save-dialog");
    x.pressKey("Return");
    ASSERT_TRUE(waitHandled(d, 3));

    // Folder: always with a trailing "/".
    d.execute("return call('$$fs_choosefolder', arguments[0])", {picojson::value(files)});
    ASSERT_TRUE(x.waitForWindow("Choose Folder", 30000));
    ASSERT_TRUE(x.focusWindow("Choose Folder"));
    x.pressKey("l", true);
    x.typeText(files + "/sub folder/");
    x.pressKey("Return");
    ASSERT_TRUE(waitHandled(d, 4));

    // A malformed filter shows nothing and sends nothing.
    EXPECT_EQ(d.execute("return rawCall('$$fs_openfilename', '[5]')").to_str(),
              "esystem exception");
    EXPECT_EQ(p->startAgain({"marker"}), 0);
    ASSERT_TRUE(waitHandled(d, 5));
    EXPECT_EQ(handled(d),
              (std::vector<std::string>{"fs|openfilename|" + files + "/ir.wav", "fs|openfilename|",
                                        "fs|savefilename|" + files + "/mybackup.bin",
                                        "fs|choosefolder|" + files + "/sub folder/",
                                        "app|command|open|marker"}));
    EXPECT_EQ(p->close(), 0);
}

TEST_F(EndToEnd, APageWhoseProcessDiedCanBeReloaded) {
    auto p = start();
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    d.execute("return startEvents()");
    // The web process is a child of the program.
    std::string children = readFile("/proc/" + std::to_string(p->process().pid()) + "/task/" +
                                    std::to_string(p->process().pid()) + "/children");
    // The log goes on from earlier runs: only what comes after the kill counts.
    const size_t logBefore = readFile(p->logPath()).size();
    int killed = 0;
    std::istringstream ids(children);
    for (int pid; ids >> pid;) {
        if (readFile("/proc/" + std::to_string(pid) + "/comm").rfind("WebKitWebProces", 0) == 0) {
            kill(pid, SIGKILL);
            ++killed;
        }
    }
    ASSERT_GT(killed, 0);
    X11Session x(world->display());
    EXPECT_TRUE(p->process().running());
    // The outage starts when the program has noticed it (on a busy machine
    // that can take a while); an event pushed before then goes to the page
    // that was, as it would had the page died a moment later.
    bool noticed = false;
    for (int waited = 0; !noticed && waited < 30000; waited += 50) {
        noticed = readFile(p->logPath()).find("The page stopped unexpectedly.", logBefore) !=
                  std::string::npos;
        if (!noticed) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(noticed) << "the program did not notice that its page's process died";
    EXPECT_EQ(p->startAgain({"during the outage"}), 0);
    p->screenCapture("crash-notice");
    // The automation session ended with the page's process; a new one
    // drives the same window.
    ASSERT_TRUE(p->reattachDriver());
    d.navigate(ProgramUnderTest::pageUrl("index.html"));
    ASSERT_TRUE(d.waitFor("return document.readyState === 'complete' && hasNative()", 30000));
    // The new document starts delivery itself and then gets what waited.
    EXPECT_TRUE(handled(d).empty());
    d.execute("return startEvents()");
    ASSERT_TRUE(waitHandled(d, 1));
    EXPECT_EQ(handled(d), (std::vector<std::string>{"app|command|open|during the outage"}));
    EXPECT_EQ(p->close(), 0);
}

// The program as `cmake --install` (and the package) lays it out: its web
// extension found from its own folder, its built-in bundle unpacked into the
// data folder, the version in the page's About dialog.
TEST_F(EndToEnd, TheInstalledProgramStartsOnItsBundleWithItsBridgeAndVersion) {
    const std::string prefix = home.path() + "/installed";
    ASSERT_EQ(kx5::test::runCommand({"cmake", "--install", KX5_BUILD_DIR, "--prefix", prefix}), 0);
    ProgramOptions options;
    options.executable = prefix + "/bin/kx5-editor";
    options.testBundle = false;
    auto p = start(options);
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    const std::string expected =
        "file://" + home.path() + "/data/velmar/kx5-editor/html/index.html";
    EXPECT_EQ(d.currentUrl(), expected);
    EXPECT_TRUE(d.execute("return !!(window.chrome && chrome.webview.hostObjects.sync.native)")
                    .get<bool>());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    p->screenshot("product-start-page");

    d.execute("document.getElementById('about-button').click()");
    ASSERT_TRUE(d.waitFor("return document.getElementById('dialog').open", 10000));
    EXPECT_EQ(
        d.execute("return document.getElementById('dialog-title').textContent").get<std::string>(),
        "About KX-5 Editor");
    const std::string text =
        d.execute("return document.getElementById('dialog-text').textContent").get<std::string>();
    EXPECT_EQ(text.rfind("Version " KX5_VERSION ".", 0), 0u) << text;
    p->screenshot("product-about");
    EXPECT_EQ(p->close(), 0);
}

TEST_F(EndToEnd, DraggedFilesAreRecordedForThePageOrOpened) {
    const std::string files = home.path() + "/drag";
    std::filesystem::create_directories(files);
    for (const char* name : {"one.wav", "two ir.wav", "three.wav", "four.wav"})
        std::ofstream(files + "/" + name) << "x";
    auto p = start();
    ASSERT_TRUE(p->ready());
    WebDriver& d = p->driver();
    d.execute("startEvents(); window.$pageHandlesDrops = true; call('$$app_dragdrop', 'true'); "
              "return true");
    const auto rect = d.windowRect();
    const picojson::value zone =
        d.execute("var r = document.getElementById('drop').getBoundingClientRect();"
                  "return [Math.round(r.left + r.width / 2), Math.round(r.top + r.height / 2)]");
    const int x = int(rect.at("x").get<double>() + zone.get(0).get<double>());
    const int y = int(rect.at("y").get<double>() + zone.get(1).get<double>());
    auto drag = [&](const char* how, const std::vector<std::string>& names) {
        std::vector<std::string> argv{KX5_DRAG_SOURCE, std::to_string(x), std::to_string(y), how};
        for (const auto& n : names)
            argv.push_back(files + "/" + n);
        ChildProcess source(argv, home.environment(*world),
                            world->artifacts() + "/drag-source.log");
        return source.waitExit(60000);
    };

    // Handled by the page: both paths are recorded in drag order.
    ASSERT_EQ(drag("drop", {"one.wav", "two ir.wav"}), 0);
    ASSERT_TRUE(d.waitFor("return $drops === 1", 30000));
    auto dropped = [&] {
        return stringsOf(d.execute("return JSON.parse(call('$$app_dropfiles'))"));
    };
    EXPECT_EQ(dropped(), (std::vector<std::string>{files + "/one.wav", files + "/two ir.wav"}));
    // Entering and leaving without a drop replaces the list too.
    ASSERT_EQ(drag("leave", {"three.wav"}), 0);
    EXPECT_EQ(dropped(), (std::vector<std::string>{files + "/three.wav"}));
    EXPECT_EQ(d.execute("return $drops").get<double>(), 1);

    // Handled by the host: the file the browser would open becomes an event,
    // the page stays, the recorded list stays as it was.
    d.execute("window.$pageHandlesDrops = false; call('$$app_dragdrop', 'false'); return true");
    ASSERT_EQ(drag("drop", {"four.wav"}), 0);
    ASSERT_TRUE(waitHandled(d, 1));
    EXPECT_EQ(handled(d), (std::vector<std::string>{"app|command|open|" + files + "/four.wav"}));
    EXPECT_EQ(d.currentUrl(), ProgramUnderTest::pageUrl("index.html"));
    EXPECT_EQ(dropped(), (std::vector<std::string>{files + "/three.wav"}));
    p->screenCapture("after-drops");
    EXPECT_EQ(p->close(), 0);
}
