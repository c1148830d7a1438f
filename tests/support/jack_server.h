// A private JACK server on the dummy backend for one test program: started,
// waited for, and ended by its PID.
//
// JACK keeps at most 8 server names in a registry shared by everyone on the
// machine, and frees the entry of a dead server only when a server of the
// same name starts again. The tests therefore take their names from a small
// pool ("kx5midi-0" ... "kx5midi-5"), so an entry left by a server that was
// killed is taken back by the next run instead of filling the registry. A
// lock file per name keeps two test programs running at once from using the
// same name (and so the same server).
#pragma once

#include "tests/support/child_process.h"

#include <memory>
#include <string>

namespace kx5::test {

class JackServer {
  public:
    JackServer();
    // Stops the server with SIGTERM and waits generously for its clean exit
    // (which releases its registry entry); SIGKILL only as a last resort.
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // False (with a reason) when the server did not come up.
    bool up() const { return up_; }
    const std::string& failure() const { return failure_; }
    const std::string& name() const { return name_; }

  private:
    bool lockName(const std::string& name);
    void unlockName();
    // One attempt under a locked name; false when the server did not come up.
    bool start(const std::string& name);
    std::string log() const;

    std::string name_;
    std::string logPath_; // jackd's output
    int lockFd_ = -1;     // the name's lock, held while the server runs
    std::unique_ptr<ChildProcess> process_;
    bool up_ = false;
    std::string failure_;
};

} // namespace kx5::test
