// The "recorder" module over the shared AudioRecorder.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class NativeCall_recorder final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Device,
        Create,
        Record,
        Pause,
        Stop,
        Volume,
        File,
        Status,
        Channels,
        PeakPower,
        Time,
        Input,
    };

    explicit NativeCall_recorder(NativeObjects* owner);
    std::string name() const override { return "recorder"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
