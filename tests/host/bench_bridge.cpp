// Speed of the page bridge.
//  1. The socket round trip the extension makes for every page call, with
//     the window process side as in the program (BridgeServer dispatching on
//     a GLib main loop), timed per call.
//  2. The real program under Xvfb: 10,000 "$$util_bytes" calls from page
//     script, and 10,000 pushed events (handed over by a later start), with
//     the CPU time the two processes spent on the events.
#include "bridge/app_paths.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_call.h"
#include "bridge/native_objects.h"
#include "bridge/ui_queue_glib.h"
#include "host/gtk/bridge_server.h"
#include "host/gtk/bridge_wire.h"
#include "modules/util/native_call_util.h"
#include "tests/host/e2e/program_under_test.h"
#include "tests/host/e2e/x11_session.h"

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
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
    const test::TempDir folder;
    std::string tmp = folder.path();
    tmp.pop_back();
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
    std::printf(
        "socket round trip + UI-thread dispatch, %d calls: median %.1f us, p99 %.1f us, bad %d\n",
        n, percentile(us, 0.5), percentile(us, 0.99), bad);
}

// CPU time (user + system, seconds) a process has used so far.
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string f;
    double ticks = 0;
    for (int i = 3; fields >> f && i <= 15; ++i)
        if (i == 14 || i == 15) ticks += std::stod(f);
    return ticks / double(sysconf(_SC_CLK_TCK));
}

pid_t webProcessOf(pid_t program) {
    std::ifstream children("/proc/" + std::to_string(program) + "/task/" + std::to_string(program) +
                           "/children");
    for (pid_t c; children >> c;) {
        std::ifstream comm("/proc/" + std::to_string(c) + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind("WebKitWebProces", 0) == 0) return c;
    }
    return 0;
}

std::string waitForTitle(kx5::e2e::X11Session& x, const std::string& prefix, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& t : x.windowTitles())
            if (t.rfind(prefix, 0) == 0) return t.substr(prefix.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

// The program as users run it (no WebDriver attached), on a copy of the test
// pages that starts the benchmark page by itself.
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
    const std::string bundle = home.path() + "/bundle";
    std::filesystem::create_directories(bundle + "/html");
    for (const char* f : {"harness.js", "bench.html"})
        std::filesystem::copy_file(std::string(KX5_TEST_BUNDLE) + "/html/" + f,
                                   bundle + "/html/" + f);
    std::ofstream(bundle + "/html/index.html")
        << "<!doctype html><script>location.replace('bench.html?" << n << "#run')</script>";
    ChildProcess program({KX5_EXECUTABLE, "--bundle=" + bundle}, home.environment(world),
                         artifacts + "/bench.log");
    X11Session x(world.display());
    const std::string calls = waitForTitle(x, "calls:", 600000);
    picojson::value c;
    if (calls.empty() || !picojson::parse(c, calls).empty()) {
        std::printf("the page benchmark did not report (logs in %s)\n", artifacts.c_str());
        return;
    }
    std::printf(
        "page calls of $$util_bytes, %d calls in batches of 100: mean %.1f us, median %.1f us, "
        "p99 %.1f us per call, bad %d\n",
        n, c.get("meanMs").get<double>() * 1000, c.get("medianMs").get<double>() * 1000,
        c.get("p99Ms").get<double>() * 1000, int(c.get("bad").get<double>()));

    const pid_t web = webProcessOf(program.pid());
    const double web0 = web ? cpuSeconds(web) : 0, ui0 = cpuSeconds(program.pid());
    std::vector<std::string> argv{KX5_EXECUTABLE};
    for (int i = 0; i < n; ++i)
        argv.push_back("e" + std::to_string(i));
    ChildProcess later(argv, home.environment(world), artifacts + "/bench.log");
    later.waitExit(60000);
    const std::string events = waitForTitle(x, "events:", 600000);
    const double webCpu = web ? cpuSeconds(web) - web0 : 0, uiCpu = cpuSeconds(program.pid()) - ui0;
    picojson::value e;
    if (events.empty() || !picojson::parse(e, events).empty()) {
        std::printf("the events did not all arrive\n");
        return;
    }
    std::printf(
        "pushed events, %d events: %.0f events/s, per event over batches of 100: median %.1f us, "
        "p99 %.1f us, in order: %s\n",
        int(e.get("n").get<double>()), e.get("perSecond").get<double>(),
        e.get("medianMs").get<double>() * 1000, e.get("p99Ms").get<double>() * 1000,
        e.get("inOrder").get<bool>() ? "yes" : "NO");
    std::printf("CPU time for the events: web process %.1f us, window process %.1f us per event\n",
                webCpu * 1e6 / n, uiCpu * 1e6 / n);
    program.stop();
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
