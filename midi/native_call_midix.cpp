#include "midi/native_call_midix.h"

#include "bridge/encoding.h"
#include "bridge/native_objects.h"
#include "midi/midix_client.h"
#include "midi/sound_settings.h"

#include <stdexcept>

namespace kx5 {
namespace {

const std::string& argument(const Args& args, size_t i) {
    static const std::string none;
    return i < args.size() ? args[i] : none;
}

MIDIClient& sharedClient(NativeObjects* owner) {
    if (!owner->midiClient) throw std::runtime_error("no MIDI client");
    return *owner->midiClient;
}

} // namespace

NativeCall_midix::NativeCall_midix(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"client", "inendpoints", "inconnect", "indisconnect", "outendpoints",
                  "outconnect", "outdisconnect", "send", "thru", "panel"});
}

void NativeCall_midix::createClients(const Args& args) {
    auto& clients = owner()->midixClients;
    if (!clients.empty()) return;
    const int32_t count = toInt(argument(args, 0));
    if (count > kMaxClients) throw std::out_of_range("too many MIDI clients");
    auto driver = sharedClient(owner()).sharedDriver();
    for (int32_t n = 0; n < count; ++n)
        clients.push_back(std::make_shared<MidixClient>(owner()->js, driver, n));
}

MidixClient& NativeCall_midix::clientAt(const Args& args) {
    const int32_t n = toInt(argument(args, 0));
    auto& clients = owner()->midixClients;
    if (n < 0 || static_cast<size_t>(n) >= clients.size())
        throw std::out_of_range("no such MIDI client");
    return *clients[static_cast<size_t>(n)];
}

void NativeCall_midix::invoke(int32_t id, const Args& args, CallResult& result) {
    const bool hasRecord = args.size() > 1;
    switch (id) {
    case 0:
        createClients(args);
        break;
    case 1:
        result.setString(midiEndpointsToJson(sharedClient(owner()).inputPort().endpoints()));
        break;
    case 4:
        result.setString(midiEndpointsToJson(sharedClient(owner()).outputPort().endpoints()));
        break;
    case 2:
    case 3:
    case 5:
    case 6: {
        // Both the client number and the record are read before any port is touched.
        MidixClient& c = clientAt(args);
        std::optional<MIDIEndpointRecord> record;
        if (hasRecord) record = midiEndpointFromJson(args[1]);
        if (id == 2 || id == 3) {
            MIDIInputPort& in = c.client().inputPort();
            if (id == 2)
                record ? in.connect(*record) : in.connectAll();
            else
                record ? in.disconnect(*record) : in.disconnectAll();
        } else {
            MIDIOutputPort& out = c.client().outputPort();
            if (id == 5)
                record ? out.connect(*record) : out.connectAll();
            else
                record ? out.disconnect(*record) : out.disconnectAll();
        }
        break;
    }
    case 7: {
        MidixClient& c = clientAt(args);
        const Bytes bytes = hexDecode(argument(args, 1));
        c.client().outputPort().send(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        break;
    }
    case 8: {
        MidixClient& c = clientAt(args);
        c.events().setThru(parseFlag(argument(args, 1)));
        break;
    }
    case 9:
        openSoundSettings();
        break;
    default:
        break;
    }
}

} // namespace kx5
