#include "pulse_server.h"

#include "audio/engines/pulse_connection.h"
#include "audio/engines/pulse_playback.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kx5::test {

PulseServer::PulseServer() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kx5pulse-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
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
    std::vector<std::string> env = {
        "HOME=" + dir_,
        "XDG_RUNTIME_DIR=" + runtime,
        "PULSE_RUNTIME_PATH=" + runtime + "/pulse",
        "XDG_CONFIG_HOME=" + dir_ + "/config",
        "DBUS_SESSION_BUS_ADDRESS=disabled:",
        std::string("PATH=") + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")};
    std::vector<char*> argv, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath_.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const int rc = posix_spawnp(&pid_, "pulseaudio", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return;
    }
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
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

PulseServer::~PulseServer() {
    keepAlive_.reset();
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        bool gone = false;
        for (int i = 0; i < 200 && !gone; ++i) {
            gone = waitpid(pid_, &status, WNOHANG) == pid_;
            if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!gone) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
    unsetenv("PULSE_SERVER");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
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
