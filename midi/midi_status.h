// How long the MIDI message a status byte starts is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx5 {

// Total length of the message (status byte included): 3 or 2 for channel and
// system common messages, 1 for the single-byte ones (tune request and real
// time). 0 for F0/F7, which frame exclusive data, and for the undefined
// F4, F5, F9 and FD.
constexpr size_t midiMessageLength(uint8_t status) {
    if (status < 0x80) return 0;
    if (status < 0xF0) return (status >= 0xC0 && status <= 0xDF) ? 2 : 3;
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 2;
    case 0xF2:
        return 3;
    case 0xF6:
    case 0xF8:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFE:
    case 0xFF:
        return 1;
    default:
        return 0;
    }
}

} // namespace kx5
