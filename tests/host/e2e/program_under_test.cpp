#include "tests/host/e2e/program_under_test.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

namespace kx5::e2e {

TestWorld::TestWorld(const std::string& artifactsFolder) : artifacts_(artifactsFolder) {
    std::filesystem::create_directories(artifacts_);
    display_ = std::make_unique<VirtualDisplay>(artifacts_ + "/xvfb.log");
    bus_ = std::make_unique<PrivateBus>(busFolder_.path(), artifacts_ + "/dbus.log");
}

TestWorld::~TestWorld() {
    bus_.reset();
    display_.reset();
}

bool TestWorld::ok() const {
    return display_->ok() && bus_->ok();
}

TestHome::TestHome() : path_(folder_.path()) {
    path_.pop_back();
    for (const char* sub : {"/data", "/config", "/cache"})
        std::filesystem::create_directories(path_ + sub);
}

std::map<std::string, std::string> TestHome::environment(const TestWorld& world) const {
    auto env = test::privateHomeEnvironment(path_);
    env.insert({{"DISPLAY", world.display()},
                {"DBUS_SESSION_BUS_ADDRESS", world.busAddress()},
                {"DBUS_SYSTEM_BUS_ADDRESS", world.busAddress()},
                {"WAYLAND_DISPLAY", ""},
                {"GDK_BACKEND", "x11"},
                {"NO_AT_BRIDGE", "1"},
                {"LIBGL_ALWAYS_SOFTWARE", "1"},
                {"GTK_USE_PORTAL", ""}});
    return env;
}

std::string TestHome::settingsFile(const std::string& appName) const {
    return path_ + "/config/velmar/" + appName + "/settings.ini";
}

std::string TestHome::temporaryFolder(const std::string& appName) const {
    return path_ + "/runtime/velmar-" + appName + "/";
}

std::string ProgramUnderTest::pageUrl(const std::string& page) {
    return "file://" + std::string(KX5_TEST_BUNDLE) + "/html/" + page;
}

ProgramUnderTest::ProgramUnderTest(TestWorld& world, const TestHome& home,
                                   const std::string& logName, ProgramOptions options)
    : world_(world), home_(home), logPath_(world.artifacts() + "/" + logName + ".log") {
    const int inspectorPort = freeLocalPort();
    const int driverPort = freeLocalPort();
    auto env = home.environment(world);
    for (const auto& [name, value] : options.environment)
        env[name] = value;
    std::vector<std::string> argv{options.executable.empty() ? KX5_EXECUTABLE : options.executable};
    if (options.automation) {
        argv.push_back("--automation");
        env["WEBKIT_INSPECTOR_SERVER"] = "127.0.0.1:" + std::to_string(inspectorPort);
    }
    if (options.testBundle) argv.push_back("--bundle=" + std::string(KX5_TEST_BUNDLE));
    argv.insert(argv.end(), options.arguments.begin(), options.arguments.end());
    program_ = std::make_unique<ChildProcess>(argv, env, logPath_);
    if (!options.automation) return;

    driverProcess_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"WebKitWebDriver", "--port=" + std::to_string(driverPort),
                                 "--target=127.0.0.1:" + std::to_string(inspectorPort)},
        std::map<std::string, std::string>{}, world.artifacts() + "/" + logName + "-driver.log");
    driver_ = std::make_unique<WebDriver>(driverPort);
    if (!driver_->waitReady(30000)) return;
    ready_ =
        reattachDriver() &&
        driver_->waitFor(
            "return document.readyState === 'complete' && location.protocol === 'file:'", 60000);
}

bool ProgramUnderTest::reattachDriver() {
    try {
        driver_->endSession();
    } catch (const WebDriverError&) {
    }
    // The program needs a moment before its inspector server listens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!driver_->hasSession() && std::chrono::steady_clock::now() < deadline &&
           program_->running()) {
        try {
            driver_->newSession({});
        } catch (const WebDriverError&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    }
    return driver_->hasSession();
}

ProgramUnderTest::~ProgramUnderTest() {
    driver_.reset();
    driverProcess_.reset();
    program_.reset();
}

std::optional<int> ProgramUnderTest::startAgain(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{KX5_EXECUTABLE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProcess later(argv, home_.environment(world_), logPath_);
    return later.waitExit(30000);
}

std::optional<int> ProgramUnderTest::close() {
    program_->signal(SIGTERM);
    const auto status = program_->waitExit(30000);
    // The driver lost its browser with it.
    driver_.reset();
    driverProcess_.reset();
    return status;
}

void ProgramUnderTest::screenshot(const std::string& name) {
    try {
        driver_->saveScreenshot(world_.artifacts() + "/" + name + ".png");
    } catch (const WebDriverError&) {
    }
}

void ProgramUnderTest::screenCapture(const std::string& name) {
    ChildProcess capture({"import", "-display", world_.display(), "-window", "root",
                          world_.artifacts() + "/" + name + ".png"},
                         {}, logPath_);
    capture.waitExit(30000);
}

} // namespace kx5::e2e
