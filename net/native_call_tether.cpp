#include "net/native_call_tether.h"

#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"

namespace kx5 {

void TetherDiscoveryEvents::found(const TetherDevice& device) {
    js_.postEvent(eventText({"tether", "found", tetherDeviceJson(device)}));
}

void TetherConnectionEvents::post(const char* type, const TetherDevice& device) {
    js_.postEvent(eventText({"tether", type, tetherDeviceJson(device)}));
}

void TetherConnectionEvents::connected(const TetherDevice& d) {
    post("connected", d);
}
void TetherConnectionEvents::connectFailed(const TetherDevice& d) {
    post("connectfailed", d);
}
void TetherConnectionEvents::closed(const TetherDevice& d) {
    post("closed", d);
}
void TetherConnectionEvents::error(const TetherDevice& d) {
    post("error", d);
}

void TetherConnectionEvents::midiMessage(const Bytes& message, uint32_t timeStamp) {
    js_.postEvent(eventText({"tether", "message", hexEncode(message), std::to_string(timeStamp)}));
}

NativeCall_tether::NativeCall_tether(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"discovery", "connect", "disconnect", "device", "send", "inputmode", "timeout",
                  "keepalive"});
}

void NativeCall_tether::invoke(int32_t id, const Args& args, CallResult& result) {
    TetherDiscovery* discovery = owner()->tetherDiscovery.get();
    TetherConnection* connection = owner()->tetherConnection.get();
    const std::string arg = args.empty() ? std::string() : args[0];
    switch (id) {
    case 0:
        if (discovery) discovery->restart();
        break;
    case 1: {
        // Read first: a record that cannot be read changes nothing.
        const TetherDevice device = parseTetherDevice(arg);
        if (connection) connection->connect(device);
        break;
    }
    case 2:
        if (connection) connection->disconnect();
        break;
    case 3: {
        const auto device = connection ? connection->device() : std::nullopt;
        result.setString(device ? tetherDeviceJson(*device) : "");
        break;
    }
    case 4:
        if (connection) connection->sendMidi(hexDecode(arg));
        break;
    case 5:
        if (connection) connection->setInputMode(toInt(arg));
        break;
    case 6:
        if (connection && !args.empty()) connection->setTimeoutSeconds(toInt(arg));
        result.setInt(connection ? connection->timeoutSeconds() : 0);
        break;
    case 7:
        if (connection && !args.empty()) connection->setKeepAliveCount(toInt(arg));
        result.setInt(connection ? connection->keepAliveCount() : 0);
        break;
    default:
        break;
    }
}

} // namespace kx5
