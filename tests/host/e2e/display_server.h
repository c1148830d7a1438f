// A private X server (Xvfb) on a display number it picks itself, and a
// private D-Bus daemon, both stopped with the object.
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/loopback.h"

#include <memory>
#include <string>

namespace kx5::e2e {

// The end-to-end helpers start their programs with the shared runner.
using test::ChildProcess;
using test::currentEnvironment;
using test::freeLocalPort;

class VirtualDisplay {
  public:
    explicit VirtualDisplay(const std::string& logPath, const std::string& screen = "1280x800x24");
    bool ok() const { return !display_.empty(); }
    const std::string& display() const { return display_; } // ":N"

  private:
    std::unique_ptr<ChildProcess> server_;
    std::string display_;
};

class PrivateBus {
  public:
    PrivateBus(const std::string& folder, const std::string& logPath);
    bool ok() const { return !address_.empty(); }
    const std::string& address() const { return address_; }

  private:
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

} // namespace kx5::e2e
