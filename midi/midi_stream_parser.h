// Turns an outgoing MIDI byte stream into complete messages. The state
// (running status, a channel message still waiting for data, the exclusive
// message being collected) carries over from one call to the next, so a
// message may be split over several calls.
//
// Rules:
// - Channel status 80-BF, E0-EF take two data bytes, C0-DF one, and become the
//   running status: later data bytes without a status repeat it.
// - F1 and F3 take one data byte, F2 two; the running status stays.
// - F6, F8, FA, FB, FC, FE, FF go out at once as 1-byte messages, even in the
//   middle of another message (which then continues); F4, F5, F9, FD are
//   ignored.
// - F0 starts an exclusive message (a second F0 restarts it); F7 closes and
//   delivers it. At most 511 bytes are kept before the F7, so the longest
//   exclusive message is 512 bytes; excess data bytes are dropped but the
//   message still goes out, closed by F7. A lone F7 is ignored.
// - Any other status byte inside an exclusive message abandons the bytes
//   collected so far; a status byte inside an incomplete channel or system
//   common message abandons that message.
// - Data bytes with no status to belong to are dropped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace kx5 {

class MidiStreamParser {
  public:
    static constexpr size_t kMaxExclusive = 512;
    // Receives each complete message; exclusive tells an F0 ... F7 message.
    using Sink = std::function<void(const uint8_t* bytes, size_t size, bool exclusive)>;

    void parse(const uint8_t* bytes, size_t size, const Sink& sink);

  private:
    void statusByte(uint8_t status, const Sink& sink);
    void dataByte(uint8_t data, const Sink& sink);

    // 0 = none, 1 = collecting an exclusive message, else the channel status.
    uint8_t runningStatus_ = 0;
    // The message waiting for data bytes (status 0 = none).
    std::array<uint8_t, 3> pending_{};
    size_t pendingHave_ = 0;
    size_t pendingSize_ = 0;
    std::array<uint8_t, kMaxExclusive> exclusive_{};
    size_t exclusiveLength_ = 0;
};

} // namespace kx5
