#include "modules/util/native_call_util.h"

#include "bridge/encoding.h"

namespace kx5 {

NativeCall_util::NativeCall_util(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"bytes", "text"});
}

void NativeCall_util::invoke(int32_t id, const Args& args, CallResult& result) {
    const std::string arg = args.empty() ? std::string() : args[0];
    switch (id) {
    case 0: result.setString(hexEncode(toUtf8(arg))); break;
    case 1: result.setString(fromUtf8(hexDecode(arg))); break;
    default: break;
    }
}

} // namespace kx5
