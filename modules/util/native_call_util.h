// "util": text <-> hexadecimal UTF-8 bytes.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class NativeCall_util final : public NativeCall {
  public:
    // Function ids, in the order of the module's table ("bytes", "text").
    enum Function : int32_t {
        TextToBytes,
        BytesToText,
    };

    explicit NativeCall_util(NativeObjects* owner);
    std::string name() const override { return "util"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
