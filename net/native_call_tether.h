// "tether": discovery of Tether devices, the control connection to one of
// them, and MIDI to and from it.
#pragma once

#include "bridge/native_call.h"
#include "net/tether_connection.h"
#include "net/tether_discovery.h"

namespace kx5 {

class JavaScriptInterface;

// "found" events.
class TetherDiscoveryEvents final : public TetherDiscoveryDelegate {
  public:
    explicit TetherDiscoveryEvents(JavaScriptInterface& js) : js_(js) {}
    void found(const TetherDevice& device) override;

  private:
    JavaScriptInterface& js_;
};

// "connected", "connectfailed", "closed", "error" and "message" events.
class TetherConnectionEvents final : public TetherConnectionDelegate {
  public:
    explicit TetherConnectionEvents(JavaScriptInterface& js) : js_(js) {}
    void connected(const TetherDevice& device) override;
    void connectFailed(const TetherDevice& device) override;
    void closed(const TetherDevice& device) override;
    void error(const TetherDevice& device) override;
    void midiMessage(const Bytes& message, uint32_t timeStamp) override;

  private:
    void post(const char* type, const TetherDevice& device);
    JavaScriptInterface& js_;
};

class NativeCall_tether final : public NativeCall {
  public:
    // Function ids, in the order of the module's table.
    enum Function : int32_t {
        Discovery,
        Connect,
        Disconnect,
        Device,
        Send,
        InputMode,
        Timeout,
        KeepAlive,
    };

    explicit NativeCall_tether(NativeObjects* owner);
    std::string name() const override { return "tether"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override;
};

} // namespace kx5
