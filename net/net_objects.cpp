#include "net/net_objects.h"

#include "bridge/app_paths.h"
#include "bridge/native_objects.h"
#include "net/native_call_http.h"
#include "net/native_call_tether.h"

namespace kx5 {

void createNetDeviceObjects(NativeObjects& o, const std::vector<std::string>& arguments) {
    o.tetherDiscovery =
        std::make_shared<TetherDiscovery>(TetherDiscovery::targetsFromArguments(arguments));
    o.tetherConnection = std::make_shared<TetherConnection>();
    o.httpConnection = std::make_shared<HTTPConnection>(o.paths.tempFolder);

    auto discoveryEvents = std::make_shared<TetherDiscoveryEvents>(o.js);
    auto connectionEvents = std::make_shared<TetherConnectionEvents>(o.js);
    auto httpEvents = std::make_shared<HTTPConnectionEvents>(o.js);
    o.tetherDiscovery->setDelegate(discoveryEvents.get());
    o.tetherConnection->setDelegate(connectionEvents.get());
    o.httpConnection->setDelegate(httpEvents.get());
    o.delegates.push_back(discoveryEvents);
    o.delegates.push_back(connectionEvents);
    o.delegates.push_back(httpEvents);
}

} // namespace kx5
