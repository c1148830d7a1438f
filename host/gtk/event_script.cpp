#include "host/gtk/event_script.h"

#include "bridge/glib_handles.h"
#include "bridge/javascript_interface.h"

namespace kx5 {

std::string eventDispatchCall(std::string_view eventText) {
    std::string call = JavaScriptInterface::dispatchScript(eventText);
    for (size_t i = call.find('\r'); i != std::string::npos; i = call.find('\r', i + 2))
        call.replace(i, 1, "\\r");
    if (!g_utf8_validate(call.data(), static_cast<gssize>(call.size()), nullptr)) {
        const glib::Text valid(g_utf8_make_valid(call.data(), static_cast<gssize>(call.size())));
        call = valid.get();
    }
    return call;
}

void EventScriptBatch::add(std::string_view eventText) {
    script_ += "try{";
    script_ += eventDispatchCall(eventText);
    script_ += "}catch(e){}\n";
    ++count_;
}

std::string EventScriptBatch::take() {
    std::string out;
    out.swap(script_);
    count_ = 0;
    return out;
}

} // namespace kx5
