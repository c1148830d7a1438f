// Turns the shared MIDI client's callbacks into "midi" events for the page.
#pragma once

#include "midi/midi_delegates.h"

namespace kx5 {

class JavaScriptInterface;

class MIDIEventDelegate final : public MIDIClientDelegate, public MIDIInputDelegate {
  public:
    explicit MIDIEventDelegate(JavaScriptInterface& js) : js_(js) {}

    void inputConnectFailed(const MIDIEndpointRecord& record) override;
    void outputConnectFailed(const MIDIEndpointRecord& record) override;
    void changed() override;
    void error(int32_t code) override;
    void message(const uint8_t* bytes, size_t size, uint32_t timestamp) override;

  private:
    JavaScriptInterface& js_;
};

} // namespace kx5
