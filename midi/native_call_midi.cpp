#include "midi/native_call_midi.h"

#include "bridge/call_arguments.h"
#include "bridge/encoding.h"
#include "bridge/native_objects.h"
#include "midi/midi_client.h"
#include "midi/sound_settings.h"

#include <stdexcept>

namespace kx5 {

NativeCall_midi::NativeCall_midi(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"inendpoints", InEndpoints},
                  {"inconnect", InConnect},
                  {"indisconnect", InDisconnect},
                  {"outendpoints", OutEndpoints},
                  {"outconnect", OutConnect},
                  {"outdisconnect", OutDisconnect},
                  {"send", Send},
                  {"panel", Panel}});
}

void NativeCall_midi::invoke(int32_t id, const Args& args, CallResult& result) {
    if (id == Panel) {
        openSoundSettings();
        return;
    }
    MIDIClient* client = owner()->midiClient.get();
    if (!client) throw std::runtime_error("no MIDI client");
    MIDIInputPort& in = client->inputPort();
    MIDIOutputPort& out = client->outputPort();
    // Without a record, connect and disconnect take every device.
    const std::string* record = given(args, 0);
    switch (id) {
    case InEndpoints:
        result.setString(midiEndpointsToJson(in.endpoints()));
        break;
    case InConnect:
        if (record)
            in.connect(midiEndpointFromJson(*record));
        else
            in.connectAll();
        break;
    case InDisconnect:
        if (record)
            in.disconnect(midiEndpointFromJson(*record));
        else
            in.disconnectAll();
        break;
    case OutEndpoints:
        result.setString(midiEndpointsToJson(out.endpoints()));
        break;
    case OutConnect:
        if (record)
            out.connect(midiEndpointFromJson(*record));
        else
            out.connectAll();
        break;
    case OutDisconnect:
        if (record)
            out.disconnect(midiEndpointFromJson(*record));
        else
            out.disconnectAll();
        break;
    case Send:
        // Without bytes nothing is sent.
        if (const std::string* hex = given(args, 0)) {
            const Bytes bytes = hexDecode(*hex);
            out.send(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        }
        break;
    default:
        break;
    }
}

} // namespace kx5
