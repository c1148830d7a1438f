// A child process with its standard input and output on pipes, read line by
// line with a limit; ended by its PID.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace kx5::test {

class ChildProcess {
  public:
    struct Options {
        // stderr goes here when given, else it is inherited.
        std::string stderrPath;
        // Without it, stdout goes where stderr goes (a pipe nobody reads
        // would stall a chatty child).
        bool pipeOutput = true;
        // Start with SIGPIPE ignored: a server must survive writing to a
        // client that died.
        bool ignoreBrokenPipes = false;
    };
    // env entries are added to (or replace) the current environment.
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env, const Options& options);
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env)
        : ChildProcess(argv, env, Options{}) {}
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool writeLine(const std::string& line);
    // False when the limit passed or the output ended first.
    bool readLine(std::string& line, std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Reads lines until one starts with the prefix; the earlier ones are
    // appended to skipped when given.
    bool readUntil(const std::string& prefix, std::string& line,
                   std::vector<std::string>* skipped = nullptr,
                   std::chrono::milliseconds limit = std::chrono::seconds(30));
    void closeInput();
    // Waits for the process to end by itself; false when the limit passed.
    bool waitForExit(std::chrono::milliseconds limit, int* status = nullptr);
    // Closes its input and waits for it to end; then SIGTERM, then SIGKILL
    // when it does not end in time; always reaps.
    void terminate();

  private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffer_;
};

} // namespace kx5::test
