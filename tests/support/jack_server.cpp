#include "tests/support/jack_server.h"

#include <jack/jack.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace kx5::test {
namespace {

constexpr int kPoolSize = 6;

void quiet(const char*) {}

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

} // namespace

JackServer::JackServer() {
    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
    logPath_ = tempPath("kx5midi-jackd-" + std::to_string(getpid()) + ".log");
    // Start at a slot that depends on the process, so that test programs
    // running in parallel rarely try the same name first.
    const int first = static_cast<int>(getpid() % kPoolSize);
    for (int i = 0; i < kPoolSize && !up_; ++i) {
        const std::string name = "kx5midi-" + std::to_string((first + i) % kPoolSize);
        if (!lockName(name)) continue;
        if (!start(name)) unlockName();
    }
    if (!up_ && failure_.empty()) failure_ = "every JACK server name of the tests is in use";
}

bool JackServer::lockName(const std::string& name) {
    lockFd_ = open(tempPath(name + ".jackd-lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd_ < 0) return false;
    if (flock(lockFd_, LOCK_EX | LOCK_NB) == 0) return true;
    unlockName();
    return false;
}

void JackServer::unlockName() {
    if (lockFd_ >= 0) close(lockFd_); // closing releases the lock
    lockFd_ = -1;
}

bool JackServer::start(const std::string& name) {
    std::remove(logPath_.c_str());
    process_ = std::make_unique<ChildProcess>(
        // Synchronous mode with a long client time-out: on a loaded machine
        // the server waits for late clients instead of running the cycle
        // without them (which drops or repeats MIDI events).
        std::vector<std::string>{"/usr/bin/jackd", "--no-realtime", "--sync", "--timeout", "10000",
                                 "-n", name, "-d", "dummy", "-r", "48000", "-p", "512"},
        std::map<std::string, std::string>{{"JACK_NO_AUDIO_RESERVATION", "1"}},
        ChildProcess::Options{.pipeOutput = false, .logPath = logPath_, .ignoreBrokenPipes = true});
    if (!process_->started()) {
        failure_ = "jackd could not be started";
        return false;
    }
    // Generous: a loaded machine may take a while to bring the server up.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end) {
        jack_status_t status{};
        jack_client_t* probe = jack_client_open(
            "kx5probe", JackOptions(JackNoStartServer | JackServerName), &status, name.c_str());
        if (probe) {
            jack_client_close(probe);
            name_ = name;
            up_ = true;
            return true;
        }
        if (process_->waitExit(0)) {
            failure_ = "jackd " + name + " ended at start-up: " + log();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    failure_ = "jackd " + name + " did not come up: " + log();
    process_.reset();
    return false;
}

JackServer::~JackServer() {
    if (process_ && process_->started()) {
        kill(process_->pid(), SIGTERM);
        if (!process_->waitExit(120000))
            std::fprintf(stderr, "jackd %s did not stop cleanly; killing it\n", name_.c_str());
    }
    process_.reset();
    unlockName();
    std::remove(logPath_.c_str());
}

std::string JackServer::log() const {
    std::ifstream in(logPath_);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace kx5::test
