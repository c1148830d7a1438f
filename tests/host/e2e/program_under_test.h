// The world an end-to-end test runs in: a private X display and D-Bus, a
// private home, the program itself and WebKitWebDriver attached to it. All
// of it is stopped again by the destructors.
#pragma once

#include "tests/host/e2e/display_server.h"
#include "tests/host/e2e/web_driver.h"
#include "tests/support/temp_dir.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kx5::e2e {

// Xvfb and D-Bus shared by the tests of one program run.
class TestWorld {
  public:
    explicit TestWorld(const std::string& artifactsFolder);
    ~TestWorld();
    bool ok() const;
    const std::string& display() const { return display_->display(); }
    const std::string& busAddress() const { return bus_->address(); }
    const std::string& artifacts() const { return artifacts_; }

  private:
    std::string artifacts_;
    test::TempDir busFolder_;
    std::unique_ptr<VirtualDisplay> display_;
    std::unique_ptr<PrivateBus> bus_;
};

// A private home folder with the XDG folders the program uses.
class TestHome {
  public:
    TestHome();
    // Without a trailing "/".
    const std::string& path() const { return path_; }
    std::map<std::string, std::string> environment(const TestWorld& world) const;
    std::string settingsFile(const std::string& appName = "kx5-editor") const;
    // The program's private temporary folder (under the home's runtime
    // folder), with a trailing "/".
    std::string temporaryFolder(const std::string& appName = "kx5-editor") const;

  private:
    test::TempDir folder_;
    std::string path_;
};

struct ProgramOptions {
    std::string executable;             // empty: the program of this build tree
    std::vector<std::string> arguments; // after the switches below
    bool testBundle = true;             // --bundle=<the test pages>
    bool automation = true;
    std::map<std::string, std::string> environment; // added to the home's
};

class ProgramUnderTest {
  public:
    ProgramUnderTest(TestWorld& world, const TestHome& home, const std::string& logName,
                     ProgramOptions options = {});
    ~ProgramUnderTest();

    // True once the driver is attached and the start page has loaded.
    bool ready() const { return ready_; }
    WebDriver& driver() { return *driver_; }
    ChildProcess& process() { return *program_; }
    // The address of a test page ("index.html" -> file:///.../html/index.html).
    static std::string pageUrl(const std::string& page);
    // Runs the program once more with arguments (a later start) and returns
    // its exit status.
    std::optional<int> startAgain(const std::vector<std::string>& arguments);
    // Starts a new WebDriver session on the running program.
    bool reattachDriver();
    // SIGTERM, the same path as the user closing the window.
    std::optional<int> close();
    // The page as the web view draws it.
    void screenshot(const std::string& name);
    // The whole screen, dialogs included.
    void screenCapture(const std::string& name);
    // Where the program's (and its later starts') standard error goes.
    const std::string& logPath() const { return logPath_; }

  private:
    TestWorld& world_;
    const TestHome& home_;
    std::string logPath_;
    std::unique_ptr<ChildProcess> program_;
    std::unique_ptr<ChildProcess> driverProcess_;
    std::unique_ptr<WebDriver> driver_;
    bool ready_ = false;
};

} // namespace kx5::e2e
