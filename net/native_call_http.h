// "http": downloads and uploads reported by "progress", "completed" and
// "error" events.
#pragma once

#include "bridge/native_call.h"
#include "net/http_connection.h"

namespace kx5 {

class JavaScriptInterface;

// Turns transfer notifications into "http" events.
class HTTPConnectionEvents final : public HTTPConnectionDelegate {
  public:
    explicit HTTPConnectionEvents(JavaScriptInterface& js) : js_(js) {}
    void completed(uint32_t id, const std::string& file) override;
    void progress(uint32_t id, int64_t total, int64_t amount) override;
    void error(uint32_t id, const std::string& url) override;

  private:
    JavaScriptInterface& js_;
};

class NativeCall_http final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Download,
        Upload,
        Cancel,
    };

    explicit NativeCall_http(NativeObjects* owner);
    std::string name() const override { return "http"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
