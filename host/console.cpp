#include "host/console.h"

#include "bridge/glib_handles.h"
#include "bridge/javascript_interface.h"
#include "bridge/ui_queue_glib.h"
#include "host/bundle_install.h"

#include <glib.h>
#include <picojson.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <istream>
#include <ostream>
#include <thread>

namespace kx5 {
namespace {

std::string jsonLine(const char* key, const std::string& value) {
    picojson::object o;
    o[key] = picojson::value(value);
    return picojson::value(o).serialize() + "\n";
}

// The page turns every argument into text by concatenating it to "".
std::string argumentText(const picojson::value& v) {
    if (v.is<std::string>()) return v.get<std::string>();
    if (v.is<bool>()) return v.get<bool>() ? "true" : "false";
    if (v.is<picojson::null>()) return "null";
    if (v.is<double>()) {
        const double d = v.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.0f", d);
            return buf;
        }
        return v.serialize();
    }
    return v.serialize();
}

class ConsoleInterface final : public JavaScriptInterface {
  public:
    ConsoleInterface(UiQueue& ui, std::ostream& out) : JavaScriptInterface(ui), out_(out) {}

    void navigate(const std::string& url) override { write(jsonLine("navigate", url)); }

    void processEvent() override {
        std::string text;
        while (takeForDelivery(text))
            write(jsonLine("e", text));
    }

    void requestClose() override { closeRequested = true; }

    void drainByPull() {
        for (std::string text = pullEvent(); !text.empty(); text = pullEvent())
            write(jsonLine("e", text));
    }

    void write(const std::string& s) {
        out_ << s;
        out_.flush();
    }

    std::atomic<bool> closeRequested{false};

  private:
    std::ostream& out_;
};

// {"functions":{"app":["ready",...],...}}: every module's names in id order.
std::string functionsLine(const ModuleTable& table) {
    picojson::object modules;
    for (const auto& [key, module] : table) {
        picojson::array names;
        for (const auto& n : module->functionNames())
            names.emplace_back(n);
        modules[key.substr(2)] = picojson::value(names);
    }
    picojson::object o;
    o["functions"] = picojson::value(modules);
    return picojson::value(o).serialize() + "\n";
}

} // namespace

std::string parseConsoleLine(const std::string& line, std::string& callName, Args& args,
                             long& waitMs) {
    picojson::value v;
    const std::string err = picojson::parse(v, line);
    if (!err.empty()) return err;
    if (!v.is<picojson::array>()) return "a line must be a JSON array";
    const auto& a = v.get<picojson::array>();
    if (a.empty() || !a[0].is<std::string>()) return "the first element must be a call name";
    callName = a[0].get<std::string>();
    args.clear();
    waitMs = -1;
    if (callName == "wait") {
        if (a.size() != 2 || !a[1].is<double>() || a[1].get<double>() < 0)
            return "wait takes a number of milliseconds";
        waitMs = static_cast<long>(a[1].get<double>());
        return {};
    }
    for (size_t i = 1; i < a.size(); ++i)
        args.push_back(argumentText(a[i]));
    return {};
}

int runConsole(const AppPaths& paths, const HostOptions& options, std::istream& in,
               std::ostream& out) {
    GMainContext* context = g_main_context_default();
    const glib::MainLoop mainLoop(g_main_loop_new(context, FALSE));
    GMainLoop* loop = mainLoop.get();
    GlibUiQueue ui(context);
    ConsoleInterface js(ui, out);
    js.appName = paths.appName;
    js.startUrl = installBundle(paths);
    auto host = std::make_unique<NativeHost>(js, paths, options);

    std::thread reader([&] {
        std::string line;
        while (!js.closeRequested && std::getline(in, line)) {
            if (line.empty()) continue;
            std::string callName;
            Args args;
            long waitMs = -1;
            const std::string err = parseConsoleLine(line, callName, args, waitMs);
            if (!err.empty()) {
                ui.send([&] { js.write(jsonLine("error", err)); });
                continue;
            }
            if (waitMs >= 0) {
                // The main loop keeps running; pushed events print as they come,
                // queued ones are polled out.
                const auto end =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
                while (std::chrono::steady_clock::now() < end) {
                    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                        std::chrono::milliseconds(5), end - std::chrono::steady_clock::now()));
                    ui.send([&] { js.drainByPull(); });
                }
                continue;
            }
            if (callName == "functions") {
                ui.send([&] { js.write(functionsLine(host->moduleTable())); });
                continue;
            }
            ui.send([&] {
                js.write(jsonLine("r", host->call(callName, args)));
                js.drainByPull();
            });
        }
        ui.post([loop] { g_main_loop_quit(loop); });
    });

    g_main_loop_run(loop);
    reader.join();
    // No worker may wait on the UI thread while the modules are torn down.
    ui.close();
    host.reset();
    return 0;
}

} // namespace kx5
