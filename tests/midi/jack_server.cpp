#include "jack_server.h"

#include <jack/jack.h>

#include <chrono>
#include <thread>
#include <unistd.h>

namespace kx5::test {
namespace {

void quiet(const char*) {}

} // namespace

JackServer::JackServer()
    : name_("kx5midi-" + std::to_string(getpid()) + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 100000)) {
    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/jackd", "--no-realtime", "-n", name_, "-d", "dummy",
                                 "-r", "48000", "-p", "256"},
        std::map<std::string, std::string>{{"JACK_NO_AUDIO_RESERVATION", "1"}}, "/dev/null");
    if (!process_->started()) {
        failure_ = "jackd could not be started";
        return;
    }
    // Generous: a loaded machine may take a while to bring the server up.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end) {
        jack_status_t status{};
        jack_client_t* probe = jack_client_open(
            "kx5probe", JackOptions(JackNoStartServer | JackServerName), &status, name_.c_str());
        if (probe) {
            jack_client_close(probe);
            up_ = true;
            return;
        }
        int exitStatus = 0;
        if (process_->waitForExit(std::chrono::milliseconds(0), &exitStatus)) {
            failure_ = "jackd ended at start-up";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    failure_ = "jackd did not come up";
}

JackServer::~JackServer() {
    process_.reset();
}

} // namespace kx5::test
