// Transfer speed of the editor page with a unit: RQ1 round trips per second,
// the read of one slot and of the whole unit, a verified load and the verify
// of one slot, and a full-unit backup (system, both user patches, 11 loaded
// slots), measured by the page itself in the real program under Xvfb (no
// WebDriver attached):
//  1. on the program's built-in simulated unit,
//  2. on the standalone simulated unit over a private JACK server (dummy
//     backend).
//   bench_transfers [built-in|jack] [BUNDLE]   (both units when not given;
//   BUNDLE: another copy of resources/bundle, an older one say, to compare)
#include "tests/host/e2e/program_under_test.h"
#include "tests/host/e2e/x11_session.h"
#include "tests/support/files.h"
#include "tests/support/jack_server.h"

#include <picojson.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace kx5::e2e;

namespace {

std::string waitForTitle(X11Session& x, const std::vector<std::string>& prefixes, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& t : x.windowTitles())
            for (const auto& p : prefixes)
                if (t.rfind(p, 0) == 0) return t;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

std::string productBundle = KX5_PRODUCT_BUNDLE;

// A copy of the product bundle whose start page also runs the benchmark.
std::string benchBundle(const TestHome& home) {
    const std::string bundle = home.path() + "/bundle";
    std::filesystem::copy(productBundle, bundle, std::filesystem::copy_options::recursive);
    std::filesystem::copy_file(std::string(KX5_TEST_BUNDLE) + "/html/bench-transfers.js",
                               bundle + "/html/bench-transfers.js");
    const std::string index = bundle + "/html/index.html";
    std::string page = kx5::test::readFile(index);
    const size_t head = page.find("</head>");
    if (head != std::string::npos)
        page.insert(head, "<script type=\"module\" src=\"bench-transfers.js?out=" + home.path() +
                              "/bench-backup.alb\"></script>\n");
    std::ofstream(index, std::ios::trunc) << page;
    return bundle;
}

double number(const picojson::value& v, const char* key) {
    const auto& o = v.get<picojson::object>();
    const auto it = o.find(key);
    return it != o.end() && it->second.is<double>() ? it->second.get<double>() : -1;
}

void print(const std::string& setting, const picojson::value& r) {
    std::printf("%s: RQ1 round trips: %.1f per second (%.1f ms each)\n", setting.c_str(),
                number(r, "rq1PerSecond"), 1000 / number(r, "rq1PerSecond"));
    std::printf("%s: read of one whole slot (%.0f RQ1): %.2f s\n", setting.c_str(),
                number(r, "slotRequests"), number(r, "slotReadMs") / 1000);
    std::printf("%s: full-unit backup read (%.0f RQ1): %.2f s\n", setting.c_str(),
                number(r, "backupRequests"), number(r, "backupReadMs") / 1000);
    if (number(r, "verifyMs") >= 0)
        std::printf("%s: verify of one loaded slot: %.2f s\n", setting.c_str(),
                    number(r, "verifyMs") / 1000);
    if (number(r, "loadMs") >= 0)
        std::printf("%s: verified load of one slot (write + verify), mean of 11: %.2f s\n",
                    setting.c_str(), number(r, "loadMs") / 1000);
    if (number(r, "backupMs") >= 0)
        std::printf("%s: backup of the whole unit, 11 loaded slots (backup session): %.2f s\n",
                    setting.c_str(), number(r, "backupMs") / 1000);
}

bool runOnce(const std::string& setting, const std::vector<std::string>& arguments,
             const std::map<std::string, std::string>& environment) {
    const std::string artifacts =
        (std::filesystem::temp_directory_path() / "kx5-bench-transfers").string();
    TestWorld world(artifacts);
    if (!world.ok()) {
        std::printf("no Xvfb/dbus-daemon: benchmark skipped\n");
        return false;
    }
    TestHome home;
    auto env = home.environment(world);
    for (const auto& [k, v] : environment)
        env[k] = v;
    std::vector<std::string> argv{KX5_EXECUTABLE, "--bundle=" + benchBundle(home)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProcess program(argv, env, artifacts + "/" + setting + ".log");
    X11Session x(world.display());
    const std::string title = waitForTitle(x, {"transfers:", "failed:"}, 1200000);
    program.stop();
    picojson::value r;
    if (title.rfind("transfers:", 0) != 0 ||
        !picojson::parse(r, title.substr(std::string("transfers:").size())).empty() ||
        !r.is<picojson::object>()) {
        std::printf("%s: the page did not report (%s; logs in %s)\n", setting.c_str(),
                    title.empty() ? "no answer" : title.c_str(), artifacts.c_str());
        return false;
    }
    print(setting, r);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    const std::string only = argc > 1 ? argv[1] : "";
    if (argc > 2) productBundle = argv[2];
    bool ok = true;
    if (only.empty() || only == "built-in") ok = runOnce("built-in unit", {}, {}) && ok;
    if (only.empty() || only == "jack") {
        kx5::test::JackServer jack;
        if (!jack.up()) {
            std::printf("JACK did not start: %s\n", jack.failure().c_str());
            return 1;
        }
        const std::map<std::string, std::string> env{{"JACK_DEFAULT_SERVER", jack.name()},
                                                     {"JACK_NO_START_SERVER", "1"},
                                                     {"JACK_NO_AUDIO_RESERVATION", "1"},
                                                     {"KX5_MIDI_API", "jack"}};
        const std::string simLog =
            (std::filesystem::temp_directory_path() / "kx5-bench-transfers-sim.log").string();
        std::filesystem::remove(simLog);
        ChildProcess sim({KX5_SIM, "--api", "jack"}, env, simLog);
        for (int i = 0; i < 600; ++i) {
            if (kx5::test::readFile(simLog).find("ready") != std::string::npos) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ok = runOnce("JACK (dummy backend), kx5-sim", {"--no-simulated-unit"}, env) && ok;
        sim.stop();
    }
    return ok ? 0 : 1;
}
