#include "host/console.h"

#include "bridge/glib_handles.h"
#include "bridge/javascript_interface.h"
#include "bridge/ui_queue_glib.h"
#include "bridge/unique_fd.h"
#include "host/bundle_install.h"
#include "host/console_line.h"

#include <glib-unix.h>
#include <glib.h>
#include <picojson.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <ostream>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kx5 {
namespace {

// Lines from the console's input. next() waits for a whole line (the last
// one may end without a line feed) and gives up at once when stop() is
// called from any thread, so a close never waits for input.
class ConsoleInput {
  public:
    explicit ConsoleInput(int fd) : fd_(fd) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            wakeRead_.reset(fds[0]);
            wakeWrite_.reset(fds[1]);
        }
    }

    bool next(std::string& line) {
        for (;;) {
            if (stopped_) return false;
            const size_t end = buffer_.find('\n', scanned_);
            if (end != std::string::npos) {
                line.assign(buffer_, 0, end);
                buffer_.erase(0, end + 1);
                scanned_ = 0;
                return true;
            }
            scanned_ = buffer_.size();
            if (ended_) {
                if (buffer_.empty()) return false;
                line.swap(buffer_);
                buffer_.clear();
                scanned_ = 0;
                return true;
            }
            pollfd waits[2] = {{fd_, POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
            if (poll(waits, wakeRead_ ? 2 : 1, -1) < 0) {
                if (errno == EINTR) continue;
                ended_ = true;
                continue;
            }
            if (waits[1].revents) return false;
            if (!waits[0].revents) continue;
            char chunk[65536];
            const ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n > 0)
                buffer_.append(chunk, size_t(n));
            else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                ended_ = true;
        }
    }

    void stop() {
        stopped_ = true;
        if (wakeWrite_) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t n = write(wakeWrite_.get(), &byte, 1);
        }
    }

  private:
    int fd_;
    UniqueFd wakeRead_, wakeWrite_;
    std::string buffer_;
    size_t scanned_ = 0;
    bool ended_ = false;
    std::atomic<bool> stopped_{false};
};

class ConsoleInterface final : public JavaScriptInterface {
  public:
    ConsoleInterface(UiQueue& ui, std::ostream& out) : JavaScriptInterface(ui), out_(out) {}

    void navigate(const std::string& url) override { write(consoleOutputLine("navigate", url)); }

    void processEvent() override {
        std::string text;
        while (takeForDelivery(text))
            write(consoleOutputLine("e", text));
    }

    void requestClose() override {
        closeRequested = true;
        if (onClose) onClose();
    }

    void drainByPull() {
        for (std::string text = pullEvent(); !text.empty(); text = pullEvent())
            write(consoleOutputLine("e", text));
    }

    void write(const std::string& s) {
        out_ << s;
        out_.flush();
    }

    std::atomic<bool> closeRequested{false};
    std::function<void()> onClose;

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

int runConsole(const AppPaths& paths, const HostOptions& options, int input, std::ostream& out) {
    GMainContext* context = g_main_context_default();
    const glib::MainLoop mainLoop(g_main_loop_new(context, FALSE));
    GMainLoop* loop = mainLoop.get();
    GlibUiQueue ui(context);
    ConsoleInput lines(input);
    ConsoleInterface js(ui, out);
    // app.exit and the signals that end the window end the console at once,
    // whatever input is still to come.
    js.onClose = [&] {
        lines.stop();
        g_main_loop_quit(loop);
    };
    js.appName = paths.appName;
    js.startUrl = installBundle(paths);
    auto host = std::make_unique<NativeHost>(js, paths, options);
    std::vector<guint> signalSources;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        signalSources.emplace_back(g_unix_signal_add(
            signal,
            [](void* data) -> gboolean {
                static_cast<ConsoleInterface*>(data)->requestClose();
                return G_SOURCE_CONTINUE;
            },
            &js));

    std::thread reader([&] {
        std::string line;
        while (!js.closeRequested && lines.next(line)) {
            if (line.empty()) continue;
            std::string callName;
            Args args;
            long waitMs = -1;
            const std::string err = parseConsoleLine(line, callName, args, waitMs);
            if (!err.empty()) {
                ui.send([&] { js.write(consoleOutputLine("error", err)); });
                continue;
            }
            if (waitMs >= 0) {
                // The main loop keeps running; pushed events print as they come,
                // queued ones are polled out.
                const auto end =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
                while (!js.closeRequested && std::chrono::steady_clock::now() < end) {
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
                js.write(consoleOutputLine("r", host->call(callName, args)));
                js.drainByPull();
            });
        }
        ui.post([loop] { g_main_loop_quit(loop); });
    });

    g_main_loop_run(loop);
    // A call the reader is still waiting on will not run any more; closing the
    // queue releases it.
    ui.close();
    lines.stop();
    reader.join();
    for (const guint id : signalSources)
        g_source_remove(id);
    // No worker may wait on the UI thread while the modules are torn down.
    host.reset();
    return 0;
}

} // namespace kx5
