// The built program's bridge console as a child process, driven line by line:
// send a JSON call, read output lines until the awaited one.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <sys/types.h>

namespace kx5::test {

class ConsoleSession {
  public:
    // env entries are set in the child (added to the inherited environment).
    ConsoleSession(const std::string& executable, const std::map<std::string, std::string>& env);
    // Ends the input, drains the output and reaps the child (killed when it
    // does not end).
    ~ConsoleSession();
    ConsoleSession(const ConsoleSession&) = delete;
    ConsoleSession& operator=(const ConsoleSession&) = delete;

    bool running() const { return pid_ > 0; }
    void send(const std::string& line);
    // The first output line for which match is true; "" at end of output or
    // when nothing comes for a minute (a hang, not a slow machine).
    std::string readUntil(const std::function<bool(const std::string&)>& match);

  private:
    bool readLine(std::string& line);

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string buffer_;
};

} // namespace kx5::test
