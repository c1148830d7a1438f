// One numbered client of the "midix" module: a MIDIClient of its own and the
// delegate that posts its "midix" events and echoes its input to its outputs
// while "thru" is on.
#pragma once

#include "midi/midi_client.h"

#include <atomic>
#include <memory>

namespace kx5 {

class JavaScriptInterface;

class MIDIXEventDelegate final : public MIDIClientDelegate, public MIDIInputDelegate {
  public:
    MIDIXEventDelegate(JavaScriptInterface& js, int32_t number) : js_(js), number_(number) {}

    void attach(MIDIClient* client) { client_ = client; }
    void setThru(bool on) { thru_.store(on); }
    bool thru() const { return thru_.load(); }

    void inputConnectFailed(const MIDIEndpointRecord& record) override;
    void outputConnectFailed(const MIDIEndpointRecord& record) override;
    // Only client 0 reports, so the page gets one event per change.
    void changed() override;
    void error(int32_t code) override;
    void message(const uint8_t* bytes, size_t size, uint32_t timestamp) override;

  private:
    JavaScriptInterface& js_;
    MIDIClient* client_ = nullptr;
    const int32_t number_;
    std::atomic<bool> thru_{false};
};

class MidixClient {
  public:
    MidixClient(JavaScriptInterface& js, std::shared_ptr<MidiDriver> driver, int32_t number);
    ~MidixClient();
    MidixClient(const MidixClient&) = delete;
    MidixClient& operator=(const MidixClient&) = delete;

    MIDIClient& client() { return *client_; }
    MIDIXEventDelegate& events() { return *delegate_; }

  private:
    // Declared first so that it outlives the client that calls it.
    std::unique_ptr<MIDIXEventDelegate> delegate_;
    std::unique_ptr<MIDIClient> client_;
};

} // namespace kx5
