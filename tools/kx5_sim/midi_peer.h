// Virtual MIDI ports of the standalone simulated unit: one input and one
// output under one client name, so that hosts pair them.
#pragma once

#include "sim/sysex_codec.h"

#include <functional>
#include <memory>
#include <string>

namespace kx5::sim {

class MidiPeer {
  public:
    // Called with one received message (or a piece of one) and its arrival
    // time in seconds, on a thread of the peer that is not real-time.
    using Receiver = std::function<void(const Bytes& bytes, double time)>;
    virtual ~MidiPeer() = default;
    // Queues one complete message for the output port.
    virtual void send(const Bytes& message) = 0;
};

// ALSA sequencer through RtMidi. Throws std::runtime_error.
std::unique_ptr<MidiPeer> openAlsaPeer(const std::string& name, MidiPeer::Receiver receiver);
// JACK directly: one client holding both ports (RtMidi would open one JACK
// client per port object, and JACK renames the second). Throws
// std::runtime_error.
std::unique_ptr<MidiPeer> openJackPeer(const std::string& name, MidiPeer::Receiver receiver);

} // namespace kx5::sim
