// A program the end-to-end tests start and always stop again.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kx5::e2e {

class ChildProcess {
  public:
    // env entries replace or add variables (an empty value removes one);
    // output goes to logPath (appended) when given.
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env, const std::string& logPath = {});
    // Stops it (SIGTERM, then SIGKILL after a grace time) if still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }
    bool running();
    void signal(int sig);
    // The exit status (or 128 + signal) once it ended within timeoutMs.
    std::optional<int> waitExit(int timeoutMs);
    // SIGTERM, wait, then SIGKILL; returns the exit status.
    std::optional<int> stop(int graceMs = 10000);

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The environment of this process with changes applied (as used for children).
std::map<std::string, std::string> currentEnvironment();

// A TCP port on 127.0.0.1 that was free a moment ago.
int freeLocalPort();

} // namespace kx5::e2e
