#include "tests/ir/console_session.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kx5::test {

ConsoleSession::ConsoleSession(const std::string& executable,
                               const std::map<std::string, std::string>& env) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        for (const auto& [key, value] : env)
            setenv(key.c_str(), value.c_str(), 1);
        std::string exe = executable, flag = "--console";
        char* argv[] = {exe.data(), flag.data(), nullptr};
        execv(exe.c_str(), argv);
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    if (pid_ < 0) {
        close(in_);
        close(out_);
        in_ = out_ = -1;
    }
}

ConsoleSession::~ConsoleSession() {
    if (in_ >= 0) close(in_);
    if (pid_ > 0) {
        std::string line;
        while (readLine(line)) {
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
    if (out_ >= 0) close(out_);
}

void ConsoleSession::send(const std::string& line) {
    const std::string text = line + "\n";
    for (size_t done = 0; in_ >= 0 && done < text.size();) {
        const ssize_t n = write(in_, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += size_t(n);
    }
}

bool ConsoleSession::readLine(std::string& line) {
    for (;;) {
        const size_t nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return true;
        }
        pollfd p{out_, POLLIN, 0};
        if (out_ < 0 || poll(&p, 1, 60000) <= 0) return false;
        char chunk[4096];
        const ssize_t n = read(out_, chunk, sizeof chunk);
        if (n <= 0) return false;
        buffer_.append(chunk, size_t(n));
    }
}

std::string ConsoleSession::readUntil(const std::function<bool(const std::string&)>& match) {
    std::string line;
    while (readLine(line))
        if (match(line)) return line;
    return "";
}

} // namespace kx5::test
