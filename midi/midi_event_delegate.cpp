#include "midi/midi_event_delegate.h"

#include "bridge/encoding.h"
#include "bridge/javascript_interface.h"

namespace kx5 {

void MIDIEventDelegate::inputConnectFailed(const MIDIEndpointRecord& record) {
    js_.postEvent(eventText({"midi", "connectfailed", midiEndpointToJson(record)}));
}

void MIDIEventDelegate::outputConnectFailed(const MIDIEndpointRecord& record) {
    js_.postEvent(eventText({"midi", "connectfailed", midiEndpointToJson(record)}));
}

void MIDIEventDelegate::changed() {
    js_.postEvent(eventText({"midi", "changed"}));
}

void MIDIEventDelegate::error(int32_t code) {
    js_.postEvent(eventText({"midi", "error", std::to_string(code)}));
}

void MIDIEventDelegate::message(const uint8_t* bytes, size_t size, uint32_t timestamp) {
    const std::string hex = hexEncode(std::string_view(reinterpret_cast<const char*>(bytes), size));
    js_.postEvent(eventText({"midi", "message", hex, std::to_string(timestamp)}));
}

} // namespace kx5
