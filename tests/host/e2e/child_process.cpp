#include "tests/host/e2e/child_process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kx5::e2e {

std::map<std::string, std::string> currentEnvironment() {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const size_t eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    return env;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& changes,
                           const std::string& logPath) {
    auto env = currentEnvironment();
    for (const auto& [k, v] : changes) {
        if (v.empty())
            env.erase(k);
        else
            env[k] = v;
    }
    // Everything the child needs is prepared before fork().
    std::vector<std::string> envText;
    for (const auto& [k, v] : env)
        envText.push_back(k + "=" + v);
    std::vector<char*> envp, args;
    for (auto& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (auto& a : argCopy)
        args.push_back(a.data());
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const int log = logPath.empty()
                        ? -1
                        : open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
        // Its own process group, and it dies with the test even when the
        // test itself is killed.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(null, 0);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    if (log >= 0) close(log);
    if (null >= 0) close(null);
}

ChildProcess::~ChildProcess() {
    stop(5000);
}

bool ChildProcess::running() {
    return started() && !waitExit(0);
}

void ChildProcess::signal(int sig) {
    if (started() && !status_) kill(pid_, sig);
}

std::optional<int> ChildProcess::waitExit(int timeoutMs) {
    if (!started()) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!status_) {
        int st = 0;
        const pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status_;
}

std::optional<int> ChildProcess::stop(int graceMs) {
    if (!started()) return std::nullopt;
    if (!status_) {
        kill(pid_, SIGTERM);
        if (!waitExit(graceMs)) {
            kill(-pid_, SIGKILL); // with whatever it started
            kill(pid_, SIGKILL);
            waitExit(5000);
        }
    }
    return status_;
}

int freeLocalPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

} // namespace kx5::e2e
