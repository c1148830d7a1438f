#include "tests/host/e2e/display_server.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace kx5::e2e {
namespace {

// Reads one line the child writes to the pipe, waiting at most timeoutMs.
std::string readLine(int fd, int timeoutMs) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c;
        if (read(fd, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
    }
    return line;
}

} // namespace

VirtualDisplay::VirtualDisplay(const std::string& logPath, const std::string& screen) {
    int fds[2];
    if (pipe(fds) != 0) return;
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                 screen, "-nolisten", "tcp", "-noreset"},
        std::map<std::string, std::string>{}, logPath);
    close(fds[1]);
    const std::string number = readLine(fds[0], 20000);
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
}

PrivateBus::PrivateBus(const std::string& folder, const std::string& logPath) {
    int fds[2];
    if (pipe(fds) != 0) return;
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                 "--address=unix:dir=" + folder,
                                 "--print-address=" + std::to_string(fds[1])},
        std::map<std::string, std::string>{}, logPath);
    close(fds[1]);
    address_ = readLine(fds[0], 20000);
    close(fds[0]);
}

} // namespace kx5::e2e
