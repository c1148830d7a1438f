// MIDI over the Tether control connection: a 4-byte time stamp followed by
// 4-byte USB-MIDI 1.0 event packets (cable in the high nibble of byte 0,
// code index in the low nibble, then three MIDI bytes).
#pragma once

#include "bridge/encoding.h"

#include <array>
#include <cstdint>
#include <functional>

namespace kx5::net::tether {

constexpr size_t kMaxOutgoingMidi = 383;

// The payload for one outgoing message (time stamp 0, cable 0); empty when
// the message cannot be sent (empty, longer than 383 bytes, or not starting
// with a status byte this protocol carries).
Bytes packMidiMessage(const Bytes& message);

// Reassembles messages from incoming payloads; system exclusive data is
// collected per cable until its end packet arrives.
class MidiPacketReader {
  public:
    // Longest system exclusive message kept; a longer one is dropped whole.
    static constexpr size_t kSysexCapacity = 512;
    using MessageCallback = std::function<void(const Bytes& message, uint32_t timeStamp)>;

    void read(const Bytes& payload, const MessageCallback& onMessage);

  private:
    struct Collector {
        Bytes bytes;
        bool overflowed = false;
    };
    std::array<Collector, 16> cables_;
};

} // namespace kx5::net::tether
