// A small W3C WebDriver client (HTTP + JSON) for WebKitWebDriver.
#pragma once

#include <picojson.h>

#include <string>

namespace kx5::e2e {

class WebDriverError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class WebDriver {
  public:
    explicit WebDriver(int port) : base_("http://127.0.0.1:" + std::to_string(port)) {}
    ~WebDriver();

    // Waits until the driver answers its status request.
    bool waitReady(int timeoutMs);
    void newSession(const picojson::object& capabilities);
    void endSession();
    bool hasSession() const { return !session_.empty(); }

    void navigate(const std::string& url);
    std::string currentUrl();
    std::string title();
    // Runs script (a function body) in the page; its return value.
    picojson::value execute(const std::string& script, const picojson::array& args = {});
    // Repeats script until it returns true (or the timeout passes).
    bool waitFor(const std::string& script, int timeoutMs);
    std::string findElement(const std::string& css);
    void click(const std::string& elementId);
    void saveScreenshot(const std::string& pngPath);
    picojson::object windowRect();
    void setWindowRect(int x, int y, int width, int height);

  private:
    picojson::value request(const char* method, const std::string& path,
                            const picojson::value* body);
    std::string base_;
    std::string session_;
};

} // namespace kx5::e2e
