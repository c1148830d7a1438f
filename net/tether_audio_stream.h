// The Tether audio streams: 16-bit stereo PCM at 44,100 Hz over a TCP
// connection that the device opens back to a listener of ours. They are
// audio streams like the wave units, so the player and the recorder can use
// them instead.
#pragma once

#include "audio/interface/audio_stream.h"
#include "bridge/encoding.h"
#include "net/socket_util.h"
#include "net/tether_protocol.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace kx5 {

// What a stream needs from the control connection.
class TetherStreamControl {
  public:
    virtual ~TetherStreamControl() = default;
    // Dropped (false) when there is no control connection.
    virtual bool sendControl(uint8_t type, uint8_t sub, const Bytes& payload = {}) = 0;
    virtual net::tether::StateBlock state(bool output) const = 0;
    // Held peak of level index (0/1 output left/right, 2/3 input), which then
    // falls back to the current level.
    virtual float takePeak(int index) = 0;
};

// One direction's listener and audio connection, served by one thread.
class TetherAudioServer {
  public:
    static constexpr size_t kBufferBytes = 8192;

    TetherAudioServer(TetherStreamControl& control, bool output);
    virtual ~TetherAudioServer();
    TetherAudioServer(const TetherAudioServer&) = delete;
    TetherAudioServer& operator=(const TetherAudioServer&) = delete;

    // Listens on an ephemeral port for connections from peer only.
    void open(in_addr peer);
    // Ends the audio connection and the listener (a running input stream
    // tells its client that it stopped).
    void close();
    uint16_t port() const { return port_; }
    bool connected() const { return connected_; }
    bool running() const { return running_; }

  protected:
    void startStream();
    // Ends the audio connection from our side and, unless called on the
    // stream's own thread, waits until it is gone.
    void shutDownAndWait();
    // Leaves the audio connection to the device, but not for ever.
    void awaitDeviceClose();
    bool onStreamThread() const { return std::this_thread::get_id() == threadId_; }
    float volumeFromState() const;
    void sendVolume(uint8_t sub, float volume);
    int32_t statusFromState() const;

    // Moves data over the audio connection; false when it has ended. Runs
    // with the client lock held (stream thread).
    virtual bool transfer(int socket) = 0;
    virtual void connectionEnded(bool wasRunning) = 0;

    TetherStreamControl& control_;
    const bool output_;
    std::atomic<bool> running_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> shutDown_{false}; // our side is ending the audio connection
    std::mutex clientMutex_;
    uint8_t buffer_[kBufferBytes];
    size_t fill_ = 0;
    size_t offset_ = 0;

  private:
    void run(UniqueFd listener, in_addr peer);
    void serve(UniqueFd socket);

    net::WakeEvent stop_;
    net::WakeEvent kick_; // the state changed: look again
    std::thread thread_;
    std::atomic<std::thread::id> threadId_{};
    std::atomic<uint16_t> port_{0};
    std::mutex socketMutex_;
    int socket_ = -1;
    std::mutex deadlineMutex_;
    std::chrono::steady_clock::time_point closeDeadline_{};
    bool deadlineArmed_ = false;
};

class TetherAudioOutputStream final : public TetherAudioServer, public AudioOutputStream {
  public:
    explicit TetherAudioOutputStream(TetherStreamControl& control)
        : TetherAudioServer(control, true) {}
    ~TetherAudioOutputStream() override { close(); }

    AudioOutputStreamDelegate* client() const override { return client_; }
    void setClient(AudioOutputStreamDelegate* client) override;
    WaveFormat format() const override { return unitWaveFormat(); }
    void start(const std::string& uid) override;
    void pause() override;
    void stop() override;
    float volume() const override { return volumeFromState(); }
    void setVolume(float volume) override { sendVolume(net::tether::kOutputVolume, volume); }
    int32_t channels() const override { return 2; }
    float peakPower(int32_t channel) override;
    float time() const override;
    int32_t status() const override { return statusFromState(); }

  private:
    bool transfer(int socket) override;
    void connectionEnded(bool) override {}

    std::atomic<AudioOutputStreamDelegate*> client_{nullptr};
};

class TetherAudioInputStream final : public TetherAudioServer, public AudioInputStream {
  public:
    explicit TetherAudioInputStream(TetherStreamControl& control)
        : TetherAudioServer(control, false) {}
    ~TetherAudioInputStream() override { close(); }

    AudioInputStreamDelegate* client() const override { return client_; }
    void setClient(AudioInputStreamDelegate* client) override;
    WaveFormat format() const override { return unitWaveFormat(); }
    void start(const std::string& uid) override;
    void pause() override;
    void stop(bool silent) override;
    float volume() const override { return volumeFromState(); }
    void setVolume(float volume) override { sendVolume(net::tether::kInputVolume, volume); }
    int32_t channels() const override { return 2; }
    float peakPower(int32_t channel) override;
    float time() const override;
    int32_t status() const override { return statusFromState(); }

    void setMode(int32_t mode);
    int32_t mode() const { return mode_; }

  private:
    bool transfer(int socket) override;
    void connectionEnded(bool wasRunning) override;

    std::atomic<AudioInputStreamDelegate*> client_{nullptr};
    std::atomic<int32_t> mode_{0};
};

} // namespace kx5
