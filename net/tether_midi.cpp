#include "net/tether_midi.h"

#include "midi/midi_status.h"
#include "net/tether_protocol.h"

namespace kx5::net::tether {
namespace {

void appendPacket(Bytes& out, uint8_t codeIndex, const uint8_t* data, size_t count) {
    out += static_cast<char>(codeIndex & 0x0F); // cable 0
    for (size_t i = 0; i < 3; ++i)
        out += static_cast<char>(i < count ? data[i] : 0);
}

// Code index of a one-packet system message, 0 for those not carried alone.
uint8_t systemCodeIndex(uint8_t status) {
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 2;
    case 0xF2:
        return 3;
    case 0xF6:
        return 5;
    case 0xF8:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFE:
    case 0xFF:
        return 15;
    default:
        return 0;
    }
}

} // namespace

Bytes packMidiMessage(const Bytes& message) {
    if (message.empty() || message.size() > kMaxOutgoingMidi) return {};
    const auto* m = reinterpret_cast<const uint8_t*>(message.data());
    const uint8_t status = m[0];
    Bytes out;
    appendU32(out, 0);
    if (status >= 0x80 && status <= 0xEF) {
        appendPacket(out, status >> 4, m, message.size());
    } else if (status == 0xF0) {
        size_t at = 0;
        for (; message.size() - at >= 4; at += 3)
            appendPacket(out, 4, m + at, 3);
        const size_t rest = message.size() - at;
        appendPacket(out, static_cast<uint8_t>(4 + rest), m + at, rest);
    } else if (const uint8_t code = systemCodeIndex(status)) {
        appendPacket(out, code, m, message.size());
    } else {
        return {};
    }
    return out;
}

void MidiPacketReader::read(const Bytes& payload, const MessageCallback& onMessage) {
    if (payload.size() < 4) return;
    const auto* p = reinterpret_cast<const uint8_t*>(payload.data());
    const uint32_t timeStamp = readU32(p);
    for (size_t at = 4; at + 4 <= payload.size(); at += 4) {
        const uint8_t* packet = p + at;
        if (const size_t length = midiMessageLength(packet[1])) {
            onMessage(Bytes(reinterpret_cast<const char*>(packet + 1), length), timeStamp);
            continue;
        }
        Collector& c = cables_[packet[0] >> 4];
        const uint8_t code = packet[0] & 0x0F;
        size_t count = 0;
        if (code == 4)
            count = 3;
        else if (code >= 5 && code <= 7)
            count = code - 4;
        else
            continue;
        if (c.bytes.size() + count > kSysexCapacity) c.overflowed = true;
        if (!c.overflowed) c.bytes.append(reinterpret_cast<const char*>(packet + 1), count);
        if (code != 4) {
            if (!c.overflowed) onMessage(c.bytes, timeStamp);
            c.bytes.clear();
            c.overflowed = false;
        }
    }
}

} // namespace kx5::net::tether
