// Commands run through /bin/sh, each in its own process group, with their
// standard output streamed to a callback by one reader thread per command.
#pragma once

#include "bridge/unique_fd.h"
#include "net/socket_util.h"

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx5::net {

// The text handed to "/bin/sh -c": every word followed by one space. Words
// are not quoted, so the shell reads them as one command line.
std::string shellCommandText(const std::vector<std::string>& words);

class ShellProcesses {
  public:
    // Called on a reader thread for every piece of output, and once with an
    // empty text when the output has ended.
    using OutputCallback = std::function<void(uint32_t pid, const std::string& text)>;

    explicit ShellProcesses(OutputCallback output);
    // Stops the readers; the commands themselves keep running.
    ~ShellProcesses();
    ShellProcesses(const ShellProcesses&) = delete;
    ShellProcesses& operator=(const ShellProcesses&) = delete;

    // The process id, or 0 when the command could not be started (the empty
    // end-of-output text for id 0 has then been delivered already).
    uint32_t start(const std::vector<std::string>& words);
    // Kills the process group of a command started here; other ids are
    // ignored.
    void kill(uint32_t pid);

  private:
    struct Command {
        pid_t pid = 0;
        UniqueFd output;
        UniqueFd pidFd;
        std::thread reader;
        std::atomic<bool> finished{false};
    };
    void read(Command& command);
    void waitForExit(Command& command);
    // Joins readers that are done and whose process group is gone.
    void pruneLocked();

    OutputCallback output_;
    WakeEvent stop_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::list<Command> commands_;
};

} // namespace kx5::net
