// A JavaScriptInterface for tests: events stay queued (pull mode) and the
// test waits for the ones it expects.
#pragma once

#include "bridge/javascript_interface.h"
#include "bridge/ui_queue.h"
#include "tests/support/event_text.h"
#include "tests/support/inline_ui_queue.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kx5::test {

class EventSink final : public JavaScriptInterface {
  public:
    EventSink() : JavaScriptInterface(queue_) {}
    void navigate(const std::string&) override {}
    void processEvent() override {}
    void requestClose() override {}

    // Waits (up to a generous limit, so a broken build fails instead of
    // hanging) for the earliest event starting with prefix that no earlier
    // waitFor has returned.
    std::optional<std::vector<std::string>>
    waitFor(const std::string& prefix, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Every event that has arrived so far, in order.
    const std::vector<std::string>& seen();
    // Events seen so far that start with prefix.
    std::vector<std::vector<std::string>> all(const std::string& prefix);

  private:
    void drain();
    InlineUiQueue queue_;
    std::vector<std::string> seen_;
    std::vector<bool> taken_;
};

} // namespace kx5::test
