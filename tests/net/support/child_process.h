// A program the test starts with pipes on its standard input and output;
// it is killed by its PID and reaped when the object goes.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kx5::test {

class ChildProcess {
  public:
    // environment: extra "NAME=value" entries on top of the test's own.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void writeLine(const std::string& line);
    void closeInput();
    // One line of standard output, or nothing when none came in time.
    std::optional<std::string> readLine(int timeoutMs);
    // Waits for the exit; the exit status, or nullopt when it did not end.
    std::optional<int> wait(int timeoutMs);

  private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffered_;
    bool reaped_ = false;
};

// Runs a command to its end; its exit status (-1 when it could not start).
int runCommand(const std::vector<std::string>& argv);

} // namespace kx5::test
