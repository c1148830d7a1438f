#include "midi/midi_client.h"

namespace kx5 {

MIDIClient::MIDIClient(std::shared_ptr<MidiDriver> driver, int pollPeriodMs)
    : driver_(std::move(driver)), inputPort_(std::make_unique<MIDIInputPort>(*this)),
      outputPort_(std::make_unique<MIDIOutputPort>(*this)), timer_(*this) {
    timer_.start(pollPeriodMs);
}

MIDIClient::~MIDIClient() {
    timer_.stop();
    inputPort_.reset();
    outputPort_.reset();
}

void MIDIClient::onTimer() {
    const int inputs = driver_->count(MidiDirection::Input);
    if (inputs != lastInputCount_) {
        lastInputCount_ = inputs;
        changed_ = true;
    }
    const int outputs = driver_->count(MidiDirection::Output);
    if (outputs != lastOutputCount_) {
        lastOutputCount_ = outputs;
        changed_ = true;
    }
    if (changed_) {
        if (MIDIClientDelegate* d = delegate()) {
            d->changed();
            changed_ = false;
        }
    }
}

} // namespace kx5
