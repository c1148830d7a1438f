// "netservice": DNS-SD browsing with "resolved" and "stopped" events.
#pragma once

#include "bridge/native_call.h"

namespace kx5 {

class NativeCall_netservice final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Search,
        Stop,
    };

    explicit NativeCall_netservice(NativeObjects* owner);
    std::string name() const override { return "netservice"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
