// The control connection to one Tether device: framed messages both ways,
// keep-alive pings, MIDI in USB-MIDI packets, the device's state reports,
// and the two audio streams the device opens back to us.
#pragma once

#include "net/socket_util.h"
#include "net/tether_audio_stream.h"
#include "net/tether_device.h"
#include "net/tether_midi.h"
#include "net/tether_protocol.h"

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace kx5 {

class TetherConnectionDelegate {
  public:
    virtual ~TetherConnectionDelegate() = default;
    virtual void connected(const TetherDevice& device) = 0;
    virtual void connectFailed(const TetherDevice& device) = 0;
    virtual void closed(const TetherDevice& device) = 0;
    virtual void error(const TetherDevice& device) = 0;
    // One complete MIDI message from the device.
    virtual void midiMessage(const Bytes& message, uint32_t timeStamp) = 0;
};

class TetherConnection final : public TetherStreamControl {
  public:
    TetherConnection();
    ~TetherConnection() override;
    TetherConnection(const TetherConnection&) = delete;
    TetherConnection& operator=(const TetherConnection&) = delete;

    void setDelegate(TetherConnectionDelegate* delegate) { delegate_ = delegate; }
    // Run first when the connection goes, so that users of the audio
    // streams let go of them.
    void setStreamRelease(std::function<void()> release) { release_ = std::move(release); }

    // Disconnects, then connects to the device on the connection thread
    // ("connected" or "connectfailed" follows).
    void connect(const TetherDevice& device);
    // Closes everything without an event and forgets the device.
    void disconnect();
    std::optional<TetherDevice> device() const;
    bool connected() const { return connected_; }

    // Messages of 1 to 383 bytes; others are dropped.
    void sendMidi(const Bytes& message);
    void setInputMode(int32_t mode);
    int32_t timeoutSeconds() const { return timeout_; }
    void setTimeoutSeconds(int32_t seconds);
    int32_t keepAliveCount() const { return keepAlive_; }
    void setKeepAliveCount(int32_t count);

    AudioOutputStream& outputStream() { return output_; }
    AudioInputStream& inputStream() { return input_; }
    TetherAudioInputStream& tetherInput() { return input_; }

    // TetherStreamControl
    bool sendControl(uint8_t type, uint8_t sub, const Bytes& payload = {}) override;
    net::tether::StateBlock state(bool output) const override;
    float takePeak(int index) override;

  private:
    void run(TetherDevice device, in_addr address, uint16_t port, int timeoutMs);
    // Reads and handles messages until the connection ends.
    void serve(int socket);
    void handle(const net::tether::Message& message);
    void shutDownSocket();
    void resetDeviceState();

    TetherConnectionDelegate* delegate_ = nullptr;
    std::function<void()> release_;
    mutable std::mutex socketMutex_;
    int socket_ = -1;
    net::WakeEvent wake_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> connected_{false};
    std::atomic<int32_t> timeout_{5};
    std::atomic<int32_t> keepAlive_{3};
    std::atomic<int32_t> misses_{0};
    mutable std::mutex deviceMutex_;
    std::optional<TetherDevice> device_;

    net::tether::MidiPacketReader midiIn_;
    mutable std::mutex stateMutex_;
    std::array<uint32_t, 5> deviceValues_{};
    net::tether::StateBlock outputState_;
    net::tether::StateBlock inputState_;
    std::array<float, 4> heldPeaks_;

    TetherAudioOutputStream output_{*this};
    TetherAudioInputStream input_{*this};
};

} // namespace kx5
