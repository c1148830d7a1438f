// The event queue between every producer thread and the page, and the
// operations the window host offers to the modules.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace kx5 {

class UiQueue;

class JavaScriptInterface {
  public:
    explicit JavaScriptInterface(UiQueue& ui) : ui_(ui) {}
    virtual ~JavaScriptInterface() = default;
    JavaScriptInterface(const JavaScriptInterface&) = delete;
    JavaScriptInterface& operator=(const JavaScriptInterface&) = delete;

    // Callable from any thread.
    void postEvent(std::string text);
    // Push switch: sets push mode and, when on, asks for a delivery.
    void setPush(bool enabled);
    // Pull: the oldest event, or an empty text when there is none.
    std::string pullEvent();
    // A new document is shown: events wait until it switches push on again.
    void clearPush();

    bool pushEnabled() const;
    bool deliveryPending() const;

    // Host operations the modules use.
    virtual void navigate(const std::string& url) = 0;
    // Drains the queue into the page while push mode is on (UI thread).
    virtual void processEvent() = 0;
    // Closes the program as the user closing the window would.
    virtual void requestClose() = 0;

    UiQueue& ui() const { return ui_; }

    std::string appName = "unknown";
    std::string startUrl = "about:blank";
    bool dragDropEnabled = false;

    // "window.$event.dispatch('<escaped>')" for one event text.
    static std::string dispatchScript(std::string_view eventText);
    static std::string escapeForScript(std::string_view eventText);

  protected:
    // One step of the drain: false when push is off or the queue is empty
    // (then the pending flag is cleared).
    bool takeForDelivery(std::string& text);

  private:
    void requestDelivery();

    UiQueue& ui_;
    mutable std::recursive_mutex eventMutex_;
    std::deque<std::string> eventQueue_;
    bool pushEnabled_ = false;
    bool deliveryPending_ = false;
};

// Joins module, type and arguments with U+000C.
std::string eventText(std::initializer_list<std::string_view> fields);

} // namespace kx5
