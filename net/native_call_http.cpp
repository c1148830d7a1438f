#include "net/native_call_http.h"

#include "bridge/call_arguments.h"
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
    addFunctions({{"download", Download}, {"upload", Upload}, {"cancel", Cancel}});
}

void NativeCall_http::invoke(int32_t id, const Args& args, CallResult& result) {
    HTTPConnection* http = owner()->httpConnection.get();
    // A missing URL or file answers -1 and starts nothing.
    const std::string url = optional(args, 0);
    const std::string file = optional(args, 1);
    switch (id) {
    case Download:
        if (url.empty() || !http)
            result.setInt(-1);
        else
            result.setUnsigned(http->download(url, file));
        break;
    case Upload:
        if (url.empty() || file.empty() || !http)
            result.setInt(-1);
        else
            result.setUnsigned(http->upload(url, file));
        break;
    case Cancel: {
        const int32_t transfer = toInt(required(args, 0));
        if (http && transfer > 0) http->cancel(static_cast<uint32_t>(transfer));
        break;
    }
    default:
        break;
    }
}

} // namespace kx5
