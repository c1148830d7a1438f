#include "midi/native_call_midix.h"

#include "bridge/call_arguments.h"
#include "bridge/encoding.h"
#include "bridge/native_objects.h"
#include "midi/midix_client.h"
#include "midi/sound_settings.h"

#include <stdexcept>

namespace kx5 {
namespace {

MIDIClient& sharedClient(NativeObjects* owner) {
    if (!owner->midiClient) throw std::runtime_error("no MIDI client");
    return *owner->midiClient;
}

} // namespace

NativeCall_midix::NativeCall_midix(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"client", Client},
                  {"inendpoints", InEndpoints},
                  {"inconnect", InConnect},
                  {"indisconnect", InDisconnect},
                  {"outendpoints", OutEndpoints},
                  {"outconnect", OutConnect},
                  {"outdisconnect", OutDisconnect},
                  {"send", Send},
                  {"thru", Thru},
                  {"panel", Panel}});
}

void NativeCall_midix::createClients(const Args& args) {
    auto& clients = owner()->midixClients;
    if (!clients.empty()) return;
    const int32_t count = toInt(required(args, 0));
    if (count > kMaxClients) throw std::out_of_range("too many MIDI clients");
    auto driver = sharedClient(owner()).sharedDriver();
    for (int32_t n = 0; n < count; ++n)
        clients.push_back(std::make_shared<MidixClient>(owner()->js, driver, n));
}

MidixClient& NativeCall_midix::clientAt(const Args& args) {
    const int32_t n = toInt(required(args, 0));
    auto& clients = owner()->midixClients;
    if (n < 0 || static_cast<size_t>(n) >= clients.size())
        throw std::out_of_range("no such MIDI client");
    return *clients[static_cast<size_t>(n)];
}

void NativeCall_midix::invoke(int32_t id, const Args& args, CallResult& result) {
    switch (id) {
    case Client:
        createClients(args);
        break;
    case InEndpoints:
        result.setString(midiEndpointsToJson(sharedClient(owner()).inputPort().endpoints()));
        break;
    case OutEndpoints:
        result.setString(midiEndpointsToJson(sharedClient(owner()).outputPort().endpoints()));
        break;
    case InConnect:
    case InDisconnect:
    case OutConnect:
    case OutDisconnect: {
        // Both the client number and the record are read before any port is
        // touched; without a record the call takes every device.
        MidixClient& c = clientAt(args);
        std::optional<MIDIEndpointRecord> record;
        if (const std::string* text = given(args, 1)) record = midiEndpointFromJson(*text);
        if (id == InConnect || id == InDisconnect) {
            MIDIInputPort& in = c.client().inputPort();
            if (id == InConnect)
                record ? in.connect(*record) : in.connectAll();
            else
                record ? in.disconnect(*record) : in.disconnectAll();
        } else {
            MIDIOutputPort& out = c.client().outputPort();
            if (id == OutConnect)
                record ? out.connect(*record) : out.connectAll();
            else
                record ? out.disconnect(*record) : out.disconnectAll();
        }
        break;
    }
    case Send: {
        MidixClient& c = clientAt(args);
        const Bytes bytes = hexDecode(optional(args, 1));
        c.client().outputPort().send(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        break;
    }
    case Thru: {
        MidixClient& c = clientAt(args);
        c.events().setThru(parseFlag(optional(args, 1)));
        break;
    }
    case Panel:
        openSoundSettings();
        break;
    default:
        break;
    }
}

} // namespace kx5
