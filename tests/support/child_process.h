// A program a test starts and always ends again: its standard input and
// output on pipes (read line by line with a limit) or on /dev/null and a log
// file, its environment changed as given, reaped when the object goes.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace kx5::test {

// This process's environment, NAME -> value.
std::map<std::string, std::string> currentEnvironment();

class ChildProcess {
  public:
    struct Options {
        // Standard input: a pipe for writeLine and closeInput, else /dev/null.
        bool pipeInput = true;
        // Standard output: a pipe for readLine, else where standard error
        // goes (a pipe nobody reads would stall a chatty child).
        bool pipeOutput = true;
        // Standard error (and standard output when it is not piped) is
        // appended here when given, else inherited.
        std::string logPath{};
        // Start with SIGPIPE ignored: a server must survive writing to a
        // client that died.
        bool ignoreBrokenPipes = false;
        // Its own process group, killed when the test dies (even by
        // SIGKILL); stop() ends the whole group.
        bool ownProcessGroup = false;
        // False: the child's environment is env alone.
        bool inheritEnvironment = true;
    };

    // env entries replace or add variables (an empty value removes one).
    // argv[0] without a "/" is looked up in PATH.
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env, const Options& options);
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env = {})
        : ChildProcess(argv, env, Options{}) {}
    // A program the test only watches: input from /dev/null, both outputs
    // appended to logPath (inherited when it is empty), its own process group.
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env, const std::string& logPath);
    // Closes the input and gives a child that reads it a moment to end by
    // itself; then stop().
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool running();
    void signal(int sig);

    bool writeLine(const std::string& line);
    void closeInput();
    // One line of standard output; false when none came within timeoutMs or
    // the output ended first.
    bool readLine(std::string& line, int timeoutMs = 30000);
    // Reads lines until one starts with prefix; the earlier ones are
    // appended to skipped when given.
    bool readUntil(const std::string& prefix, std::string& line,
                   std::vector<std::string>* skipped = nullptr, int timeoutMs = 30000);

    // The exit status (128 + the signal when a signal ended it) once it
    // ended within timeoutMs.
    std::optional<int> waitExit(int timeoutMs);
    // SIGTERM, up to graceMs for it to end, then SIGKILL (with its group
    // when it has its own); the exit status.
    std::optional<int> stop(int graceMs = 10000);

  private:
    Options options_;
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffer_;
    std::optional<int> status_;
};

// Runs a command to its end, input from /dev/null, standard error discarded
// and standard output written to stdoutPath (discarded when it is empty);
// its exit status, -1 when it could not start or did not exit.
int runCommand(const std::vector<std::string>& argv, const std::string& stdoutPath = {});

} // namespace kx5::test
