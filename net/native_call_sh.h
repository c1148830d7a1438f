// "sh": runs a command line through /bin/sh and streams its output as
// "stdout" events; kills a command's whole process group.
#pragma once

#include "bridge/native_call.h"
#include "net/shell_processes.h"

namespace kx5 {

class NativeCall_sh final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Exec,
        Kill,
    };

    explicit NativeCall_sh(NativeObjects* owner);
    std::string name() const override { return "sh"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;

  private:
    net::ShellProcesses processes_;
};

} // namespace kx5
