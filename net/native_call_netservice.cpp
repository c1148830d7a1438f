#include "net/native_call_netservice.h"

#include "bridge/call_arguments.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "net/netservice_discovery.h"

#include <picojson.h>

namespace kx5 {
namespace {

class NetServiceEvents final : public NetServiceDiscoveryDelegate {
  public:
    explicit NetServiceEvents(JavaScriptInterface& js) : js_(js) {}
    void resolved(const std::string& name, const std::string& address, uint16_t port) override {
        picojson::object o;
        o["name"] = picojson::value(name);
        o["address"] = picojson::value(address);
        o["port"] = picojson::value(static_cast<double>(port));
        js_.postEvent(eventText({"netservice", "resolved", picojson::value(o).serialize()}));
    }
    void stopped(long code) override {
        js_.postEvent(eventText({"netservice", "stopped", std::to_string(code)}));
    }

  private:
    JavaScriptInterface& js_;
};

} // namespace

NativeCall_netservice::NativeCall_netservice(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"search", Search}, {"stop", Stop}});
}

void NativeCall_netservice::invoke(int32_t id, const Args& args, CallResult& result) {
    NativeObjects* o = owner();
    if (id == Search) {
        if (!o->netService)
            o->netService =
                std::make_shared<NetServiceDiscovery>(std::make_unique<NetServiceEvents>(o->js));
        result.setBool(o->netService->search(optional(args, 0)));
    } else if (id == Stop) {
        if (o->netService) o->netService->stop();
    }
}

} // namespace kx5
