#include "pulse_server.h"

#include "audio/engines/pulse_connection.h"
#include "audio/engines/pulse_playback.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

namespace kx5::test {

PulseServer::PulseServer() {
    dir_ = folder_.path();
    dir_.pop_back();
    const std::string runtime = dir_ + "/runtime";
    std::filesystem::create_directories(runtime + "/pulse");
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::string socket = dir_ + "/native";
    address_ = "unix:" + socket;
    logPath_ = dir_ + "/server.log";

    std::vector<std::string> args = {
        "pulseaudio",
        "--daemonize=no",
        "-n", // no default script: only the modules below
        "--exit-idle-time=-1",
        "--use-pid-file=no",
        "--system=false",
        "--disallow-exit",
        "--no-cpu-limit",
        "--realtime=false",
        "--high-priority=false",
        "--log-target=stderr",
        "-L",
        "module-native-protocol-unix socket=" + socket + " auth-anonymous=1",
        "-L",
        std::string("module-null-sink sink_name=") + kSink +
            " sink_properties=device.description=KX5-Null rate=44100 channels=2",
    };
    // The server's own environment: private home and runtime folders, no
    // session bus.
    const std::map<std::string, std::string> env = {
        {"HOME", dir_},
        {"XDG_RUNTIME_DIR", runtime},
        {"PULSE_RUNTIME_PATH", runtime + "/pulse"},
        {"XDG_CONFIG_HOME", dir_ + "/config"},
        {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
        {"PATH", std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"}};
    process_ = std::make_unique<ChildProcess>(args, env,
                                              ChildProcess::Options{.pipeInput = false,
                                                                    .pipeOutput = false,
                                                                    .logPath = logPath_,
                                                                    .inheritEnvironment = false});
    if (!process_->started()) return;
    setenv("PULSE_SERVER", address_.c_str(), 1);
    // Clients of this process must not find a cookie or a session server.
    setenv("PULSE_COOKIE", (dir_ + "/no-cookie").c_str(), 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (PulseConnection::connect("kx5-test-probe", 1000)) {
            PulsePlayback::Config silence;
            silence.device = kSink;
            silence.bufferBytes = 441 * 4;
            silence.bufferCount = 2;
            silence.streamName = "test-keepalive";
            keepAlive_ =
                PulsePlayback::open(silence, [](uint8_t* b, size_t n) { std::memset(b, 0, n); });
            ready_ = keepAlive_ != nullptr;
            return;
        }
        if (process_->waitExit(0)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

PulseServer::~PulseServer() {
    keepAlive_.reset();
    if (process_) process_->stop(2000);
    process_.reset();
    unsetenv("PULSE_SERVER");
}

void PulseServer::kill() {
    if (!process_) return;
    process_->signal(SIGKILL);
    process_->waitExit(10000);
    ready_ = false;
}

namespace {

struct IndexResult {
    PulseConnection* connection;
    int index = -1;
    bool success = false;
};

} // namespace

int PulseServer::loadNullSink(const std::string& name) {
    auto c = PulseConnection::connect("kx5-test-control");
    if (!c) return -1;
    IndexResult r{c.get()};
    PulseConnection::Lock lock(*c);
    const std::string args = "sink_name=" + name + " sink_properties=device.description=" + name;
    c->waitOperation(pa_context_load_module(
        c->context(), "module-null-sink", args.c_str(),
        [](pa_context*, uint32_t idx, void* self) {
            auto* r = static_cast<IndexResult*>(self);
            r->index = idx == PA_INVALID_INDEX ? -1 : static_cast<int>(idx);
        },
        &r));
    return r.index;
}

bool PulseServer::unloadModule(int index) {
    auto c = PulseConnection::connect("kx5-test-control");
    if (!c) return false;
    IndexResult r{c.get()};
    PulseConnection::Lock lock(*c);
    c->waitOperation(pa_context_unload_module(
        c->context(), static_cast<uint32_t>(index),
        [](pa_context*, int success, void* self) {
            static_cast<IndexResult*>(self)->success = success != 0;
        },
        &r));
    return r.success;
}

} // namespace kx5::test
