// The "player" module over the shared AudioPlayer.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class NativeCall_player final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Device,
        Open,
        Play,
        Pause,
        Stop,
        Locate,
        Volume,
        File,
        Status,
        Channels,
        PeakPower,
        Time,
        TotalTime,
        Output,
    };

    explicit NativeCall_player(NativeObjects* owner);
    std::string name() const override { return "player"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
