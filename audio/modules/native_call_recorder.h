// The "recorder" module over the shared AudioRecorder.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class NativeCall_recorder final : public NativeCall {
  public:
    explicit NativeCall_recorder(NativeObjects* owner);
    std::string name() const override { return "recorder"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
