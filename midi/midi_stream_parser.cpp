#include "midi/midi_stream_parser.h"

#include "midi/midi_status.h"

namespace kx5 {

void MidiStreamParser::parse(const uint8_t* bytes, size_t size, const Sink& sink) {
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] & 0x80)
            statusByte(bytes[i], sink);
        else
            dataByte(bytes[i], sink);
    }
}

void MidiStreamParser::statusByte(uint8_t status, const Sink& sink) {
    if (midiMessageLength(status) == 1) {
        sink(&status, 1, false);
        return;
    }
    if (status == 0xF4 || status == 0xF5 || status == 0xF9 || status == 0xFD) return;

    pendingSize_ = 0; // an unfinished short message is abandoned
    if (status == 0xF7) {
        if (runningStatus_ == 1 && exclusiveLength_ > 0) {
            exclusive_[exclusiveLength_++] = 0xF7;
            sink(exclusive_.data(), exclusiveLength_, true);
        }
        runningStatus_ = 0;
        exclusiveLength_ = 0;
        return;
    }
    if (status == 0xF0) {
        runningStatus_ = 1;
        exclusive_[0] = 0xF0;
        exclusiveLength_ = 1;
        return;
    }
    if (runningStatus_ == 1) {
        // Another message ends the exclusive one without its F7.
        runningStatus_ = 0;
        exclusiveLength_ = 0;
    }
    if (status < 0xF0) runningStatus_ = status;
    pending_[0] = status;
    pendingHave_ = 1;
    pendingSize_ = midiMessageLength(status);
}

void MidiStreamParser::dataByte(uint8_t data, const Sink& sink) {
    if (pendingSize_ == 0) {
        if (runningStatus_ == 1) {
            if (exclusiveLength_ < kMaxExclusive - 1) exclusive_[exclusiveLength_++] = data;
            return;
        }
        if (runningStatus_ == 0) return;
        pending_[0] = runningStatus_;
        pendingHave_ = 1;
        pendingSize_ = midiMessageLength(runningStatus_);
    }
    pending_[pendingHave_++] = data;
    if (pendingHave_ == pendingSize_) {
        sink(pending_.data(), pendingSize_, false);
        pendingSize_ = 0;
    }
}

} // namespace kx5
