#include "net/shell_processes.h"

#include "net/shell_output.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace kx5::net {
namespace {

constexpr size_t kChunkBytes = 512;

// posix_spawn attributes and file actions with their destroy calls.
struct SpawnSetup {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

} // namespace

std::string shellCommandText(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& w : words)
        text += w + " ";
    return text;
}

ShellProcesses::ShellProcesses(OutputCallback output) : output_(std::move(output)) {}

ShellProcesses::~ShellProcesses() {
    stopping_ = true;
    stop_.signal();
    std::lock_guard lock(mutex_);
    for (auto& c : commands_)
        if (c.reader.joinable()) c.reader.join();
}

uint32_t ShellProcesses::start(const std::vector<std::string>& words) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        output_(0, "");
        return 0;
    }
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);

    SpawnSetup setup;
    // Own process group, so that kill reaches everything the command starts;
    // default signal dispositions and an empty mask whatever the host uses.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&setup.attr, 0);
    posix_spawnattr_setsigdefault(&setup.attr, &all);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDOUT_FILENO);

    const std::string text = shellCommandText(words);
    char sh[] = "/bin/sh", dashC[] = "-c";
    char* argv[] = {sh, dashC, const_cast<char*>(text.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", &setup.actions, &setup.attr, argv, environ) != 0) {
        output_(0, "");
        return 0;
    }
    writeEnd.reset(); // the pipe breaks once the command and its children are gone

    std::lock_guard lock(mutex_);
    pruneLocked();
    auto& c = commands_.emplace_back();
    c.pid = pid;
    c.output = std::move(readEnd);
    c.pidFd.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    c.reader = std::thread([this, &c] {
        read(c);
        waitForExit(c);
        c.finished = true;
    });
    return static_cast<uint32_t>(pid);
}

void ShellProcesses::read(Command& c) {
    ShellOutputDecoder decoder;
    char buf[kChunkBytes];
    for (;;) {
        if (waitReadable(c.output.get(), &stop_, -1) != WaitResult::Ready) return;
        const ssize_t n = ::read(c.output.get(), buf, decoder.readSize(sizeof buf));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        // An empty text means "end of output", so a piece that is entirely
        // held back is not reported yet.
        const std::string text = decoder.decode(std::string_view(buf, static_cast<size_t>(n)));
        if (!text.empty()) output_(static_cast<uint32_t>(c.pid), text);
    }
    const std::string rest = decoder.finish();
    if (!rest.empty()) output_(static_cast<uint32_t>(c.pid), rest);
    output_(static_cast<uint32_t>(c.pid), "");
}

// Reaps the shell once it exits (nothing reports its status, but it must not
// stay a zombie); a command that outlives the host is left running.
void ShellProcesses::waitForExit(Command& c) {
    if (c.pidFd) {
        if (waitReadable(c.pidFd.get(), &stop_, -1) != WaitResult::Ready) return;
        ::waitpid(c.pid, nullptr, 0);
        return;
    }
    while (::waitpid(c.pid, nullptr, WNOHANG) == 0)
        if (waitReadable(stop_.fd(), nullptr, 100) != WaitResult::TimedOut) return;
}

void ShellProcesses::kill(uint32_t pid) {
    if (pid == 0) return;
    std::lock_guard lock(mutex_);
    for (auto& c : commands_)
        if (static_cast<uint32_t>(c.pid) == pid) ::kill(-c.pid, SIGKILL);
    pruneLocked();
}

void ShellProcesses::pruneLocked() {
    for (auto it = commands_.begin(); it != commands_.end();) {
        // The group id stays reserved while any member lives, so a group
        // that still answers is one this host started.
        if (it->finished && ::kill(-it->pid, 0) != 0 && errno == ESRCH) {
            it->reader.join();
            it = commands_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace kx5::net
