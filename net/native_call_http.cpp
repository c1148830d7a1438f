#include "net/native_call_http.h"

#include "bridge/encoding.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"

namespace kx5 {

void HTTPConnectionEvents::completed(uint32_t id, const std::string& file) {
    js_.postEvent(eventText({"http", "completed", std::to_string(id), file}));
}

void HTTPConnectionEvents::progress(uint32_t id, int64_t total, int64_t amount) {
    js_.postEvent(eventText(
        {"http", "progress", std::to_string(id), std::to_string(total), std::to_string(amount)}));
}

void HTTPConnectionEvents::error(uint32_t id, const std::string& url) {
    js_.postEvent(eventText({"http", "error", std::to_string(id), url}));
}

NativeCall_http::NativeCall_http(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"download", "upload", "cancel"});
}

void NativeCall_http::invoke(int32_t id, const Args& args, CallResult& result) {
    HTTPConnection* http = owner()->httpConnection.get();
    const auto arg = [&](size_t i) { return i < args.size() ? args[i] : std::string(); };
    switch (id) {
    case 0:
        if (arg(0).empty() || !http)
            result.setInt(-1);
        else
            result.setUnsigned(http->download(arg(0), arg(1)));
        break;
    case 1:
        if (arg(0).empty() || arg(1).empty() || !http)
            result.setInt(-1);
        else
            result.setUnsigned(http->upload(arg(0), arg(1)));
        break;
    case 2: {
        const int32_t transfer = toInt(arg(0));
        if (http && transfer > 0) http->cancel(static_cast<uint32_t>(transfer));
        break;
    }
    default:
        break;
    }
}

} // namespace kx5
