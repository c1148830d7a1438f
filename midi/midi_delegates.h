// Listener interfaces of the MIDI port layer. They are called on the caller's
// thread (connect failures, send errors), the polling thread (changed) and
// driver threads (messages), so implementations must be thread-safe.
#pragma once

#include "midi/midi_endpoint_record.h"

#include <cstddef>
#include <cstdint>

namespace kx5 {

class MIDIClientDelegate {
  public:
    virtual ~MIDIClientDelegate() = default;
    virtual void inputConnectFailed(const MIDIEndpointRecord&) {}
    virtual void outputConnectFailed(const MIDIEndpointRecord&) {}
    // The number of input or output devices changed.
    virtual void changed() {}
    // An output failed to send; it has been closed. code is the driver's.
    virtual void error(int32_t) {}
};

class MIDIInputDelegate {
  public:
    virtual ~MIDIInputDelegate() = default;
    // One incoming message (bytes valid during the call only), stamped with
    // the tick count in milliseconds read when it arrived.
    virtual void message(const uint8_t*, size_t, uint32_t) {}
};

} // namespace kx5
