// Scripts that push events into the page: window.$event.dispatch('<text>')
// per event, several events to one script so that a burst costs one script
// run instead of one each. Each dispatch is guarded on its own: a handler
// that throws loses only its own event.
#pragma once

#include <string>
#include <string_view>

namespace kx5 {

// The dispatch call for one event, safe to embed in a script: besides the
// bridge's escaping, carriage returns are escaped and invalid UTF-8 is
// replaced (either would make the whole script fail).
std::string eventDispatchCall(std::string_view eventText);

class EventScriptBatch {
  public:
    // Events per script at most, and the size a script may reach before it
    // is handed out.
    static constexpr size_t kMaxEvents = 500;
    static constexpr size_t kMaxBytes = 1 << 20;

    void add(std::string_view eventText);
    bool full() const { return count_ >= kMaxEvents || script_.size() >= kMaxBytes; }
    bool empty() const { return count_ == 0; }
    size_t count() const { return count_; }
    // The script so far; the batch starts over empty.
    std::string take();

  private:
    std::string script_;
    size_t count_ = 0;
};

} // namespace kx5
