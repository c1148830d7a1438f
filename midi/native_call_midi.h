// "midi": list, connect and disconnect MIDI devices of the shared client,
// send bytes to every connected output, open the sound settings. Incoming
// messages and device changes arrive as "midi" events (MIDIEventDelegate).
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class NativeCall_midi final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        InEndpoints,
        InConnect,
        InDisconnect,
        OutEndpoints,
        OutConnect,
        OutDisconnect,
        Send,
        Panel,
    };

    explicit NativeCall_midi(NativeObjects* owner);
    std::string name() const override { return "midi"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
