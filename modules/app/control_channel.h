// The control command channel: "word:json" requests from app.control are
// handled on the UI thread by a fixed command table and answered with
// "app" "command" events; a command's worker reports its end through
// signalDone, which produces the completion answer.
#pragma once

#include <picojson.h>

#include <functional>
#include <string>
#include <vector>

namespace kx5 {

class JavaScriptInterface;

struct ControlCommand {
    std::string word;
    // Adds keys to the result and returns success. A picojson type error
    // thrown here drops the request without an answer.
    std::function<bool(const picojson::object& args, picojson::object& result)> request;
    // Optional: called when the command's worker has finished.
    std::function<bool(picojson::object& result)> completion;
};

class ControlChannel {
  public:
    ControlChannel(JavaScriptInterface& js, std::vector<ControlCommand> table);

    // Queues the request for the UI thread (what app.control does).
    void postRequest(std::string request);
    // UI thread.
    void handleControlRequest(const std::string& request);
    void handleControlDone(int index);
    // From a worker thread: returns once the completion answer is queued.
    void signalDone(int index);

    // Callable from any thread.
    void postCommandEvent(const std::string& word, const std::string& json);

    // Replaces the handlers of an entry (the table itself is fixed).
    void setHandlers(int index, ControlCommand command);

  private:
    JavaScriptInterface& js_;
    std::vector<ControlCommand> table_;
};

// The fixed table with its two words; handlers are attached by the host.
std::vector<ControlCommand> defaultControlTable();

} // namespace kx5
