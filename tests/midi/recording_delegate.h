// A delegate that records every callback of the MIDI port layer.
#pragma once

#include "midi/midi_delegates.h"

#include <mutex>
#include <vector>

namespace kx5::test {

class RecordingDelegate final : public MIDIClientDelegate, public MIDIInputDelegate {
  public:
    struct Message {
        std::vector<uint8_t> bytes;
        uint32_t timestamp;
    };

    void inputConnectFailed(const MIDIEndpointRecord& r) override {
        std::lock_guard lock(mutex_);
        inputFailures_.push_back(r);
    }
    void outputConnectFailed(const MIDIEndpointRecord& r) override {
        std::lock_guard lock(mutex_);
        outputFailures_.push_back(r);
    }
    void changed() override {
        std::lock_guard lock(mutex_);
        ++changes_;
    }
    void error(int32_t code) override {
        std::lock_guard lock(mutex_);
        errors_.push_back(code);
    }
    void message(const uint8_t* bytes, size_t size, uint32_t timestamp) override {
        std::lock_guard lock(mutex_);
        messages_.push_back({{bytes, bytes + size}, timestamp});
    }

    std::vector<MIDIEndpointRecord> inputFailures() const { return locked(inputFailures_); }
    std::vector<MIDIEndpointRecord> outputFailures() const { return locked(outputFailures_); }
    int changes() const { return locked(changes_); }
    std::vector<int32_t> errors() const { return locked(errors_); }
    std::vector<Message> messages() const { return locked(messages_); }
    std::vector<std::vector<uint8_t>> messageBytes() const {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& m : messages())
            out.push_back(m.bytes);
        return out;
    }

  private:
    template <class T> T locked(const T& value) const {
        std::lock_guard lock(mutex_);
        return value;
    }

    mutable std::mutex mutex_;
    std::vector<MIDIEndpointRecord> inputFailures_, outputFailures_;
    int changes_ = 0;
    std::vector<int32_t> errors_;
    std::vector<Message> messages_;
};

} // namespace kx5::test
