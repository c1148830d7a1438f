// Speed of the page bridge.
//  1. The socket round trip the extension makes for every page call, with
//     the window process side as in the program (BridgeServer dispatching on
//     a GLib main loop), timed per call.
//  2. The real program under Xvfb: 10,000 "$$util_bytes" calls from page
//     script, and 10,000 pushed events (handed over by a later start).
#include "bridge/app_paths.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_call.h"
#include "bridge/native_objects.h"
#include "bridge/ui_queue_glib.h"
#include "host/gtk/bridge_server.h"
#include "host/gtk/bridge_wire.h"
#include "modules/util/native_call_util.h"
#include "tests/host/e2e/program_under_test.h"

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace kx5;

namespace {

class NoPage final : public JavaScriptInterface {
  public:
    using JavaScriptInterface::JavaScriptInterface;
    void navigate(const std::string&) override {}
    void processEvent() override {}
    void requestClose() override {}
};

struct UtilOnly final : BridgeServer::Handler {
    ModuleTable table;
    std::string call(const std::string& name, const Args& args) override {
        return dispatchCall(table, name, args);
    }
    void documentStarted(const std::string&) override {}
    void frameMessage(const std::string&, const std::string&) override {}
};

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
}

void socketRoundTrips(int n) {
    std::string tmp = (std::filesystem::temp_directory_path() / "kx5bench-XXXXXX").string();
    tmp = mkdtemp(tmp.data());
    GMainContext* context = g_main_context_new();
    GlibUiQueue ui(context);
    NoPage js(ui);
    AppPaths paths{"bench", tmp + "/", tmp + "/", tmp + "/"};
    NativeObjects objects(js, paths);
    NativeCall_util util(&objects);
    UtilOnly handler;
    util.registerIn(handler.table);
    BridgeServer server(handler, tmp, context);
    std::atomic<bool> done{false};
    std::vector<double> us;
    int bad = 0;
    std::thread client([&] {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, server.socketPath().c_str(), sizeof addr.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            wire::writeAll(fd, wire::encode(wire::MessageType::Hello, {server.token(), "1"}));
            for (int i = 0; i < n; ++i) {
                const auto t0 = std::chrono::steady_clock::now();
                wire::writeAll(
                    fd, wire::encode(wire::MessageType::Call, {"$$util_bytes", "A\xC3\xA9"}));
                wire::Message reply;
                if (!wire::readMessage(fd, reply) || reply.fields.at(0) != "s41C3A9") ++bad;
                us.push_back(
                    std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                        .count());
            }
        }
        close(fd);
        done = true;
        g_main_context_wakeup(context);
    });
    while (!done)
        g_main_context_iteration(context, TRUE);
    client.join();
    g_main_context_unref(context);
    std::filesystem::remove_all(tmp);
    std::printf(
        "socket round trip + UI-thread dispatch, %d calls: median %.1f us, p99 %.1f us, bad %d\n",
        n, percentile(us, 0.5), percentile(us, 0.99), bad);
}

void inTheProgram(int n) {
    using namespace kx5::e2e;
    const std::string artifacts =
        (std::filesystem::temp_directory_path() / "kx5-bench-artifacts").string();
    TestWorld world(artifacts);
    if (!world.ok()) {
        std::printf("no Xvfb/dbus-daemon: page benchmark skipped\n");
        return;
    }
    TestHome home;
    ProgramUnderTest p(world, home, "bench");
    if (!p.ready()) {
        std::printf("the program did not come up (logs in %s)\n", artifacts.c_str());
        return;
    }
    WebDriver& d = p.driver();
    d.navigate(ProgramUnderTest::pageUrl("bench.html"));
    d.waitFor("return typeof benchCalls === 'function'", 30000);
    d.execute("return benchCalls(200, 100)"); // warm up
    const picojson::value calls =
        d.execute("return benchCalls(arguments[0], 100)", {picojson::value(double(n))});
    std::printf(
        "page calls of $$util_bytes, %d calls in batches of 100: mean %.1f us, median %.1f us, "
        "p99 %.1f us per call, bad %d\n",
        n, calls.get("meanMs").get<double>() * 1000, calls.get("medianMs").get<double>() * 1000,
        calls.get("p99Ms").get<double>() * 1000, int(calls.get("bad").get<double>()));

    d.execute("return startEvents()");
    std::vector<std::string> args;
    for (int i = 0; i < n; ++i)
        args.push_back("e" + std::to_string(i));
    p.startAgain(args);
    if (!d.waitFor("return $arrivals.length >= " + std::to_string(n), 300000))
        std::printf("not all events arrived\n");
    const picojson::value events = d.execute("return eventStats(100)");
    if (!events.is<picojson::object>() || !events.get("inOrder").is<bool>())
        throw std::runtime_error("no event statistics: " + events.serialize());
    std::printf(
        "pushed events, %d events: %.0f events/s, per event over batches of 100: median %.1f us, "
        "p99 %.1f us, in order: %s\n",
        int(events.get("n").get<double>()), events.get("perSecond").get<double>(),
        events.get("medianMs").get<double>() * 1000, events.get("p99Ms").get<double>() * 1000,
        events.get("inOrder").get<bool>() ? "yes" : "NO");
    p.close();
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    const int n = argc > 1 ? std::atoi(argv[1]) : 10000;
    socketRoundTrips(n);
    try {
        inTheProgram(n);
    } catch (const std::exception& e) {
        std::printf("page benchmark failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
