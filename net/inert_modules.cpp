#include "net/inert_modules.h"

#include "bridge/call_arguments.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"

namespace kx5 {

NativeCall_ble::NativeCall_ble(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"scanstart", ScanStart},
                  {"scanstop", ScanStop},
                  {"connect", Connect},
                  {"disconnect", Disconnect},
                  {"discover", Discover},
                  {"properties", Properties},
                  {"notify", Notify},
                  {"read", Read},
                  {"write", Write},
                  {"writewithoutresponse", WriteWithoutResponse}});
}

void NativeCall_ble::invoke(int32_t id, const Args& args, CallResult& result) {
    if (id == Connect) {
        owner()->js.postEvent(eventText({"ble", "connectfailed", optional(args, 0), ""}));
    } else if (id == Properties) {
        result.setString("{}");
    }
}

NativeCall_barcode::NativeCall_barcode(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"read", Read}});
}

NativeCall_notification::NativeCall_notification(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"token", Token}, {"badge", Badge}});
}

void NativeCall_notification::invoke(int32_t id, const Args&, CallResult& result) {
    if (id == Token)
        result.setString("");
    else if (id == Badge)
        result.setInt(0);
}

NativeCall_recognizer::NativeCall_recognizer(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"start", Start}, {"stop", Stop}});
}

void NativeCall_recognizer::invoke(int32_t id, const Args&, CallResult&) {
    if (id == Start)
        owner()->js.postEvent(
            eventText({"recognizer", "error", "Speech Recognization is not supported."}));
}

NativeCall_tgif::NativeCall_tgif(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"buffer", Buffer}, {"param", Param}, {"send", Send}, {"thru", Thru}});
}

void NativeCall_tgif::invoke(int32_t id, const Args& args, CallResult& result) {
    // Reads answer fixed values; with a value to set, nothing.
    if (id == Buffer && !given(args, 0))
        result.setInt(-1);
    else if (id == Param && given(args, 0) && !given(args, 1))
        result.setInt(0);
}

// The page knows the store as one inert entry plus the two calls it waits on.
NativeCall_store::NativeCall_store(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"inert", Inert}, {"purchased", Purchased}, {"restore", Restore}});
}

void NativeCall_store::invoke(int32_t id, const Args&, CallResult& result) {
    if (id == Purchased)
        result.setString("[]");
    else if (id == Restore)
        owner()->js.postEvent(eventText({"store", "restorefailed"}));
}

} // namespace kx5
