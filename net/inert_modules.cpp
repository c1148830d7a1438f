#include "net/inert_modules.h"

#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"

namespace kx5 {

NativeCall_ble::NativeCall_ble(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"scanstart", "scanstop", "connect", "disconnect", "discover", "properties",
                  "notify", "read", "write", "writewithoutresponse"});
}

void NativeCall_ble::invoke(int32_t id, const Args& args, CallResult& result) {
    enum { Connect = 2, Properties = 5 };
    if (id == Connect) {
        const std::string device = args.empty() ? std::string() : args[0];
        owner()->js.postEvent(eventText({"ble", "connectfailed", device, ""}));
    } else if (id == Properties) {
        result.setString("{}");
    }
}

NativeCall_barcode::NativeCall_barcode(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"read"});
}

NativeCall_notification::NativeCall_notification(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"token", "badge"});
}

void NativeCall_notification::invoke(int32_t id, const Args&, CallResult& result) {
    if (id == 0)
        result.setString("");
    else if (id == 1)
        result.setInt(0);
}

NativeCall_recognizer::NativeCall_recognizer(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"start", "stop"});
}

void NativeCall_recognizer::invoke(int32_t id, const Args&, CallResult&) {
    if (id == 0)
        owner()->js.postEvent(
            eventText({"recognizer", "error", "Speech Recognization is not supported."}));
}

NativeCall_tgif::NativeCall_tgif(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"buffer", "param", "send", "thru"});
}

void NativeCall_tgif::invoke(int32_t id, const Args& args, CallResult& result) {
    if (id == 0 && args.empty())
        result.setInt(-1);
    else if (id == 1 && args.size() == 1)
        result.setInt(0);
}

// The page knows the store as one inert entry plus the two calls it waits on.
NativeCall_store::NativeCall_store(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"inert", "purchased", "restore"});
}

void NativeCall_store::invoke(int32_t id, const Args&, CallResult& result) {
    if (id == 1)
        result.setString("[]");
    else if (id == 2)
        owner()->js.postEvent(eventText({"store", "restorefailed"}));
}

} // namespace kx5
