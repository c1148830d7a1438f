#include "bridge/javascript_interface.h"

#include "bridge/ui_queue.h"

namespace kx5 {

void JavaScriptInterface::postEvent(std::string text) {
    std::lock_guard lock(eventMutex_);
    eventQueue_.push_back(std::move(text));
    if (pushEnabled_ && !deliveryPending_) {
        deliveryPending_ = true;
        requestDelivery();
    }
}

void JavaScriptInterface::setPush(bool enabled) {
    std::lock_guard lock(eventMutex_);
    pushEnabled_ = enabled;
    deliveryPending_ = enabled;
    if (enabled) requestDelivery();
}

std::string JavaScriptInterface::pullEvent() {
    std::lock_guard lock(eventMutex_);
    if (eventQueue_.empty()) return {};
    std::string front = std::move(eventQueue_.front());
    eventQueue_.pop_front();
    return front;
}

void JavaScriptInterface::clearPush() {
    std::lock_guard lock(eventMutex_);
    pushEnabled_ = false;
}

bool JavaScriptInterface::pushEnabled() const {
    std::lock_guard lock(eventMutex_);
    return pushEnabled_;
}

bool JavaScriptInterface::deliveryPending() const {
    std::lock_guard lock(eventMutex_);
    return deliveryPending_;
}

// A failed post leaves the pending flag set; the next push switch resumes.
void JavaScriptInterface::requestDelivery() {
    ui_.post([this] { processEvent(); });
}

bool JavaScriptInterface::takeForDelivery(std::string& text) {
    std::lock_guard lock(eventMutex_);
    if (!pushEnabled_) return false;
    if (eventQueue_.empty()) {
        deliveryPending_ = false;
        return false;
    }
    text = std::move(eventQueue_.front());
    eventQueue_.pop_front();
    return true;
}

std::string JavaScriptInterface::escapeForScript(std::string_view eventText) {
    std::string out;
    out.reserve(eventText.size() + 8);
    for (char c : eventText) {
        if (c == '\0') break;
        if (c == '\n')
            out += "\\n";
        else if (c == '\'')
            out += "\\'";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

std::string JavaScriptInterface::dispatchScript(std::string_view eventText) {
    return "window.$event.dispatch('" + escapeForScript(eventText) + "')";
}

std::string eventText(std::initializer_list<std::string_view> fields) {
    std::string out;
    bool first = true;
    for (auto f : fields) {
        if (!first) out += '\f';
        out += f;
        first = false;
    }
    return out;
}

} // namespace kx5
