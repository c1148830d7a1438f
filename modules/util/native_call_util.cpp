#include "modules/util/native_call_util.h"

#include "bridge/call_arguments.h"
#include "bridge/encoding.h"

namespace kx5 {

NativeCall_util::NativeCall_util(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"bytes", TextToBytes}, {"text", BytesToText}});
}

void NativeCall_util::invoke(int32_t id, const Args& args, CallResult& result) {
    // Neither call fails: a missing argument converts as the empty text.
    const std::string arg = optional(args, 0);
    switch (id) {
    case TextToBytes:
        result.setString(hexEncode(toUtf8(arg)));
        break;
    case BytesToText:
        result.setString(fromUtf8(hexDecode(arg)));
        break;
    default:
        break;
    }
}

} // namespace kx5
