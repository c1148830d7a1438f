#include "tests/support/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kx5::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& env, const Options& options) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        if (!options.stderrPath.empty()) {
            const int fd = open(options.stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (fd >= 0) dup2(fd, 2);
        }
        if (!options.pipeOutput) dup2(2, 1);
        if (options.ignoreBrokenPipes) signal(SIGPIPE, SIG_IGN);
        for (const auto& [k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (pid < 0) {
        close(toChild[1]);
        close(fromChild[0]);
        return;
    }
    pid_ = pid;
    toChild_ = toChild[1];
    fromChild_ = fromChild[0];
}

ChildProcess::~ChildProcess() {
    terminate();
}

bool ChildProcess::writeLine(const std::string& line) {
    if (toChild_ < 0) return false;
    const std::string text = line + "\n";
    for (size_t off = 0; off < text.size();) {
        const ssize_t n = write(toChild_, text.data() + off, text.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

bool ChildProcess::readLine(std::string& line, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const size_t nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return true;
        }
        if (fromChild_ < 0) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fromChild_, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        char chunk[4096];
        const ssize_t n = read(fromChild_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fromChild_);
            fromChild_ = -1;
            continue;
        }
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

bool ChildProcess::readUntil(const std::string& prefix, std::string& line,
                             std::vector<std::string>* skipped, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readLine(line, left)) return false;
        if (line.rfind(prefix, 0) == 0) return true;
        if (skipped) skipped->push_back(line);
    }
}

void ChildProcess::closeInput() {
    if (toChild_ >= 0) close(toChild_);
    toChild_ = -1;
}

bool ChildProcess::waitForExit(std::chrono::milliseconds limit, int* status) {
    if (pid_ <= 0) return true;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int st = 0;
        const pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            if (status) *status = st;
            pid_ = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ChildProcess::terminate() {
    // End of input asks a well-behaved child to finish by itself first.
    closeInput();
    if (pid_ > 0 && !waitForExit(std::chrono::seconds(10))) {
        kill(pid_, SIGTERM);
        if (!waitForExit(std::chrono::seconds(10))) {
            kill(pid_, SIGKILL);
            waitForExit(std::chrono::seconds(30));
        }
    }
    if (fromChild_ >= 0) close(fromChild_);
    fromChild_ = -1;
}

} // namespace kx5::test
