#include "net/native_call_tether.h"

#include "bridge/call_arguments.h"
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
    addFunctions({{"discovery", Discovery},
                  {"connect", Connect},
                  {"disconnect", Disconnect},
                  {"device", Device},
                  {"send", Send},
                  {"inputmode", InputMode},
                  {"timeout", Timeout},
                  {"keepalive", KeepAlive}});
}

void NativeCall_tether::invoke(int32_t id, const Args& args, CallResult& result) {
    TetherDiscovery* discovery = owner()->tetherDiscovery.get();
    TetherConnection* connection = owner()->tetherConnection.get();
    switch (id) {
    case Discovery:
        if (discovery) discovery->restart();
        break;
    case Connect: {
        // Read first: a record that cannot be read changes nothing.
        const TetherDevice device = parseTetherDevice(required(args, 0));
        if (connection) connection->connect(device);
        break;
    }
    case Disconnect:
        if (connection) connection->disconnect();
        break;
    case Device: {
        const auto device = connection ? connection->device() : std::nullopt;
        result.setString(device ? tetherDeviceJson(*device) : "");
        break;
    }
    case Send:
        if (connection) connection->sendMidi(hexDecode(optional(args, 0)));
        break;
    case InputMode:
        if (connection) connection->setInputMode(toInt(required(args, 0)));
        break;
    // Without a value these two read the setting.
    case Timeout:
        if (const std::string* seconds = given(args, 0); connection && seconds)
            connection->setTimeoutSeconds(toInt(*seconds));
        result.setInt(connection ? connection->timeoutSeconds() : 0);
        break;
    case KeepAlive:
        if (const std::string* count = given(args, 0); connection && count)
            connection->setKeepAliveCount(toInt(*count));
        result.setInt(connection ? connection->keepAliveCount() : 0);
        break;
    default:
        break;
    }
}

} // namespace kx5
