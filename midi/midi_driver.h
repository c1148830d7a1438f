// What the port layer needs from a MIDI system: numbered devices per
// direction with a product name and an interface name, opening an input with a
// message callback, opening an output, short and long sends.
//
// Device numbers run from 0 and are only valid until the system's device set
// changes; the port layer looks a device up afresh before every open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kx5 {

enum class MidiDirection { Input, Output };

// Result codes of sends (0 = sent). Drivers return these or a negative errno
// value of their own system.
enum MidiResult : int32_t {
    MidiOk = 0,
    MidiErrorDeviceGone = -19,  // -ENODEV: the device or its connection went away
    MidiErrorBufferFull = -105, // -ENOBUFS: the system took no more data in time
    MidiErrorNoSystem = -32,    // -EPIPE: the MIDI system itself is gone
};

// An open input; destroying it closes the device. When the destructor returns
// the receiver is not running and will not run again.
class MidiInputStream {
  public:
    virtual ~MidiInputStream() = default;
};

// An open output. Sends are made by one thread at a time.
class MidiOutputStream {
  public:
    virtual ~MidiOutputStream() = default;
    // One channel or system message of 1-3 bytes.
    virtual int32_t sendShort(const uint8_t* bytes, size_t size) = 0;
    // One exclusive message, F0 ... F7. Returns once the bytes are consumed.
    virtual int32_t sendLong(const uint8_t* bytes, size_t size) = 0;
};

// Called on a driver thread with one complete message as the system delivered
// it (an exclusive message may be of any length). The bytes are valid only
// during the call.
using MidiReceiver = std::function<void(const uint8_t* bytes, size_t size)>;

class MidiDriver {
  public:
    virtual ~MidiDriver() = default;

    virtual int count(MidiDirection direction) = 0;
    // The device's product name (at most 31 characters); nullopt when the query
    // fails (the device went away, or n is out of range).
    virtual std::optional<std::string> productName(MidiDirection direction, int n) = 0;
    // A text that names the device's port stably (see each driver); empty
    // when the system gives none.
    virtual std::string interfaceName(MidiDirection direction, int n) = 0;
    // Null when the device cannot be opened.
    virtual std::unique_ptr<MidiInputStream> openInput(int n, MidiReceiver receiver) = 0;
    virtual std::unique_ptr<MidiOutputStream> openOutput(int n) = 0;
};

// Cuts a UTF-8 text to at most maxUnits UTF-16 code units without splitting
// a character (the 31-character product name limit).
std::string cutToUtf16Units(const std::string& text, size_t maxUnits);

} // namespace kx5
