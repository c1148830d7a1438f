// The millisecond tick count that stamps incoming MIDI messages: time since
// boot from the monotonic clock, as an unsigned 32-bit value that wraps about
// every 49.7 days.
#pragma once

#include <cstdint>

namespace kx5 {

uint32_t midiTickCount();

} // namespace kx5
