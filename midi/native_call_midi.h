// "midi": list, connect and disconnect MIDI devices of the shared client,
// send bytes to every connected output, open the sound settings. Incoming
// messages and device changes arrive as "midi" events (MIDIEventDelegate).
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class NativeCall_midi final : public NativeCall {
  public:
    explicit NativeCall_midi(NativeObjects* owner);
    std::string name() const override { return "midi"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
