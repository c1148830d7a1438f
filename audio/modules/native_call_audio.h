// The "audio" module: audio file format, conversion, split and reverse, and
// the lists of audio devices.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class NativeCall_audio final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Inputs,
        Outputs,
        Format,
        Convert,
        Split,
        Reverse,
    };

    explicit NativeCall_audio(NativeObjects* owner);
    std::string name() const override { return "audio"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
