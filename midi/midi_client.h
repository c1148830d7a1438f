// One MIDI client: an input port, an output port and a polling thread that
// reports "changed" when the number of input or output devices differs from
// the last poll (both counts start at 0, so the first poll reports when any
// device is present).
#pragma once

#include "midi/midi_delegates.h"
#include "midi/midi_driver.h"
#include "midi/midi_input_port.h"
#include "midi/midi_output_port.h"
#include "midi/timer.h"

#include <atomic>
#include <memory>

namespace kx5 {

class MIDIClient final : private Timer::Proc {
  public:
    static constexpr int kPollPeriodMs = 1000;

    explicit MIDIClient(std::shared_ptr<MidiDriver> driver, int pollPeriodMs = kPollPeriodMs);
    ~MIDIClient() override;
    MIDIClient(const MIDIClient&) = delete;
    MIDIClient& operator=(const MIDIClient&) = delete;

    // Not owned; may be null. Set by the creator after construction.
    void setDelegate(MIDIClientDelegate* delegate) { delegate_.store(delegate); }
    MIDIClientDelegate* delegate() const { return delegate_.load(); }

    MIDIInputPort& inputPort() { return *inputPort_; }
    MIDIOutputPort& outputPort() { return *outputPort_; }
    MidiDriver& driver() const { return *driver_; }
    const std::shared_ptr<MidiDriver>& sharedDriver() const { return driver_; }

  private:
    void onTimer() override;

    std::shared_ptr<MidiDriver> driver_;
    std::atomic<MIDIClientDelegate*> delegate_{nullptr};
    std::unique_ptr<MIDIInputPort> inputPort_;
    std::unique_ptr<MIDIOutputPort> outputPort_;
    int lastInputCount_ = 0;
    int lastOutputCount_ = 0;
    bool changed_ = false;
    Timer timer_;
};

} // namespace kx5
