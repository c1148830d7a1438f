#include "tests/support/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kx5::test {
namespace {

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (auto& t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

int openAppending(const std::string& path) {
    return path.empty() ? -1 : open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

// A write to a child that has ended fails with EPIPE instead of ending the
// test with SIGPIPE.
ssize_t writeWithoutSigpipe(int fd, const char* data, size_t size) {
    sigset_t pipeSignal, old;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    const ssize_t n = write(fd, data, size);
    const int error = errno;
    if (n < 0 && error == EPIPE) {
        const timespec now{};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return n;
}

ChildProcess::Options watched(const std::string& logPath) {
    ChildProcess::Options o;
    o.pipeInput = false;
    o.pipeOutput = false;
    o.logPath = logPath;
    o.ownProcessGroup = true;
    return o;
}

} // namespace

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
                           const std::map<std::string, std::string>& env,
                           const std::string& logPath)
    : ChildProcess(argv, env, watched(logPath)) {}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& changes,
                           const Options& options)
    : options_(options) {
    if (argv.empty()) return;
    auto env =
        options.inheritEnvironment ? currentEnvironment() : std::map<std::string, std::string>{};
    for (const auto& [k, v] : changes) {
        if (v.empty())
            env.erase(k);
        else
            env[k] = v;
    }
    // Everything the child needs is prepared before fork().
    std::vector<std::string> envText, args = argv;
    for (const auto& [k, v] : env)
        envText.push_back(k + "=" + v);
    auto envp = pointers(envText);
    auto argp = pointers(args);

    int toChild[2] = {-1, -1}, fromChild[2] = {-1, -1};
    if (options.pipeInput && pipe2(toChild, O_CLOEXEC) != 0) return;
    if (options.pipeOutput && pipe2(fromChild, O_CLOEXEC) != 0) {
        if (toChild[0] >= 0) close(toChild[0]);
        if (toChild[1] >= 0) close(toChild[1]);
        return;
    }
    const int log = openAppending(options.logPath);
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        if (options.ownProcessGroup) {
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
        }
        dup2(options.pipeInput ? toChild[0] : null, 0);
        if (log >= 0) dup2(log, 2);
        dup2(options.pipeOutput ? fromChild[1] : 2, 1);
        if (options.ignoreBrokenPipes) ::signal(SIGPIPE, SIG_IGN);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    if (log >= 0) close(log);
    if (null >= 0) close(null);
    if (toChild[0] >= 0) close(toChild[0]);
    if (fromChild[1] >= 0) close(fromChild[1]);
    if (pid < 0) {
        if (toChild[1] >= 0) close(toChild[1]);
        if (fromChild[0] >= 0) close(fromChild[0]);
        return;
    }
    pid_ = pid;
    toChild_ = toChild[1];
    fromChild_ = fromChild[0];
}

ChildProcess::~ChildProcess() {
    // End of input asks a child that reads it to finish by itself first.
    if (options_.pipeInput && toChild_ >= 0) {
        closeInput();
        waitExit(5000);
    }
    stop(10000);
    closeInput();
    if (fromChild_ >= 0) close(fromChild_);
}

bool ChildProcess::running() {
    return started() && !waitExit(0);
}

void ChildProcess::signal(int sig) {
    if (started() && !status_) kill(pid_, sig);
}

bool ChildProcess::writeLine(const std::string& line) {
    if (toChild_ < 0) return false;
    const std::string text = line + "\n";
    for (size_t off = 0; off < text.size();) {
        const ssize_t n = writeWithoutSigpipe(toChild_, text.data() + off, text.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

void ChildProcess::closeInput() {
    if (toChild_ >= 0) close(toChild_);
    toChild_ = -1;
}

bool ChildProcess::readLine(std::string& line, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
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
        char chunk[65536];
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
                             std::vector<std::string>* skipped, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readLine(line, static_cast<int>(left.count()))) return false;
        if (line.rfind(prefix, 0) == 0) return true;
        if (skipped) skipped->push_back(line);
    }
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
        if (r < 0 && errno == ECHILD) {
            status_ = -1; // reaped elsewhere
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

std::optional<int> ChildProcess::stop(int graceMs) {
    if (!started()) return std::nullopt;
    if (!status_) {
        kill(pid_, SIGTERM);
        if (!waitExit(graceMs)) {
            if (options_.ownProcessGroup) kill(-pid_, SIGKILL); // with whatever it started
            kill(pid_, SIGKILL);
            waitExit(30000);
        }
    }
    return status_;
}

int runCommand(const std::vector<std::string>& argv, const std::string& stdoutPath) {
    if (argv.empty()) return -1;
    std::vector<std::string> args = argv;
    auto argp = pointers(args);
    const int out =
        stdoutPath.empty() ? -1 : open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(out >= 0 ? out : null, 1);
        dup2(null, 2);
        execvp(argp[0], argp.data());
        _exit(127);
    }
    if (out >= 0) close(out);
    if (pid < 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace kx5::test
