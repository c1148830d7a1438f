// The "sampler" module: a fixed set of voices, each playing one file.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class SamplerPlayer;

class NativeCall_sampler final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Create,
        Device,
        Open,
        Close,
        Start,
        Play,
        Pause,
        Stop,
        Locate,
        Begin,
        End,
        Volume,
        Repeat,
        Speed,
        Pitch,
        FadeIn,
        FadeOut,
        File,
        TotalTime,
        Status,
    };

    explicit NativeCall_sampler(NativeObjects* owner);
    std::string name() const override { return "sampler"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;

  private:
    SamplerPlayer& voice(const Args& args);
    void answerDefault(int32_t id, CallResult& result);
    std::string status();
};

} // namespace kx5
