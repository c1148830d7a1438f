// Wire formats of the Tether device protocol (all numbers big-endian):
// the discovery datagram and reply, and the framed control messages.
#pragma once

#include "bridge/encoding.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kx5::net::tether {

constexpr uint16_t kDiscoveryPort = 9314;
constexpr size_t kDatagramSize = 8;
constexpr size_t kReplySize = 84;
constexpr size_t kHeaderSize = 4;
constexpr uint16_t kMaxPayload = 32767;

enum MessageType : uint8_t {
    kKeepAlive = 0, // sub 0 ping, sub 1 count
    kDeviceValue = 1,
    kMidi = 2,
    kState = 3,
    kAudio = 4,
};

enum AudioCommand : uint8_t {
    kOutputStart = 1,
    kOutputPause = 2,
    kOutputStop = 3,
    kInputStart = 4,
    kInputPause = 5,
    kInputStop = 6,
    kOutputVolume = 9,
    kInputVolume = 10,
    kInputMode = 11,
};

// "TDDPv1" followed by the TCP port the host listens on for replies.
Bytes discoveryDatagram(uint16_t replyPort);
std::optional<uint16_t> parseDiscoveryDatagram(const Bytes& datagram);

struct DiscoveryReply {
    uint16_t controlPort = 0;
    uint32_t serial = 0;
    uint8_t caps = 0;
    uint8_t image = 0;
    uint8_t status = 0;
    std::string manufacturer; // at most 16 bytes on the wire
    std::string uidPrefix;    // at most 8
    std::string version;      // at most 8
    std::string name;         // at most 16
};

Bytes encodeReply(const DiscoveryReply& reply);
// Reads the 84-byte reply; nullopt when the magic text is wrong. Text fields
// end at their first NUL or at the field's end, whichever comes first.
std::optional<DiscoveryReply> decodeReply(const uint8_t* data);

// "<prefix>-<serial as 8 upper-case hex digits>"
std::string deviceUid(const DiscoveryReply& reply);

struct Message {
    uint8_t type = 0;
    uint8_t sub = 0;
    Bytes payload;
};

// A frame for one message; payloads above kMaxPayload are cut to it.
Bytes encodeMessage(uint8_t type, uint8_t sub, const Bytes& payload = {});

// Collects stream bytes and hands out whole messages. A header announcing a
// payload longer than kMaxPayload is a protocol error: the reader stays
// failed, and the connection must end.
class MessageReader {
  public:
    enum class Result { Message, NeedMore, Invalid };
    void feed(const char* data, size_t size) { buffer_.append(data, size); }
    Result next(Message& message);
    // Bytes a caller may still read without the buffer exceeding one frame.
    size_t room() const;

  private:
    Bytes buffer_;
    bool failed_ = false;
};

uint16_t readU16(const uint8_t* p);
uint32_t readU32(const uint8_t* p);
void appendU16(Bytes& out, uint16_t v);
void appendU32(Bytes& out, uint32_t v);

} // namespace kx5::net::tether

namespace kx5::net::tether {

// One direction's 16-byte state block of a state message (type 3).
struct StateBlock {
    uint8_t status = 0;
    uint8_t volume = 0; // 0 to 127
    int8_t left = 0;    // decibels
    int8_t right = 0;
    uint32_t position = 0; // frames

    static StateBlock decode(const uint8_t* p);
    Bytes encode() const;
};

} // namespace kx5::net::tether
