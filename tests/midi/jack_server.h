// A private JACK server on the dummy backend for one test program: started
// under a unique name, waited for, and ended by its PID.
#pragma once

#include "child_process.h"

#include <memory>
#include <string>

namespace kx5::test {

class JackServer {
  public:
    JackServer();
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // False (with a reason) when the server did not come up.
    bool up() const { return up_; }
    const std::string& failure() const { return failure_; }
    const std::string& name() const { return name_; }

  private:
    std::string name_;
    std::unique_ptr<ChildProcess> process_;
    bool up_ = false;
    std::string failure_;
};

} // namespace kx5::test
