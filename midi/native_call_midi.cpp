#include "midi/native_call_midi.h"

#include "bridge/encoding.h"
#include "bridge/native_objects.h"
#include "midi/midi_client.h"
#include "midi/sound_settings.h"

#include <stdexcept>

namespace kx5 {

NativeCall_midi::NativeCall_midi(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({"inendpoints", "inconnect", "indisconnect", "outendpoints", "outconnect",
                  "outdisconnect", "send", "panel"});
}

void NativeCall_midi::invoke(int32_t id, const Args& args, CallResult& result) {
    if (id == 7) {
        openSoundSettings();
        return;
    }
    MIDIClient* client = owner()->midiClient.get();
    if (!client) throw std::runtime_error("no MIDI client");
    MIDIInputPort& in = client->inputPort();
    MIDIOutputPort& out = client->outputPort();
    const bool hasRecord = !args.empty();
    switch (id) {
    case 0:
        result.setString(midiEndpointsToJson(in.endpoints()));
        break;
    case 1:
        if (hasRecord)
            in.connect(midiEndpointFromJson(args[0]));
        else
            in.connectAll();
        break;
    case 2:
        if (hasRecord)
            in.disconnect(midiEndpointFromJson(args[0]));
        else
            in.disconnectAll();
        break;
    case 3:
        result.setString(midiEndpointsToJson(out.endpoints()));
        break;
    case 4:
        if (hasRecord)
            out.connect(midiEndpointFromJson(args[0]));
        else
            out.connectAll();
        break;
    case 5:
        if (hasRecord)
            out.disconnect(midiEndpointFromJson(args[0]));
        else
            out.disconnectAll();
        break;
    case 6:
        if (hasRecord) {
            const Bytes bytes = hexDecode(args[0]);
            out.send(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        }
        break;
    default:
        break;
    }
}

} // namespace kx5
