// "tcpip": TCP client connections and serial ports as numbered byte streams
// whose input arrives as "read" events.
#pragma once

#include "bridge/native_call.h"

#include <memory>

namespace kx5 {

class TcpConnection;

class NativeCall_tcpip final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Connect,
        Close,
        Write,
    };

    explicit NativeCall_tcpip(NativeObjects* owner);
    std::string name() const override { return "tcpip"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;

  private:
    int32_t connect(const Args& args);
    // The slot's connection while it is usable (caller holds the table lock).
    TcpConnection* slot(const std::string& fdText) const;
};

} // namespace kx5
