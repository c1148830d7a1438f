// Plays 16-bit stereo 44.1 kHz audio pulled from its client on one audio
// endpoint, applying the volume and metering the level.
#pragma once

#include "audio/interface/audio_stream.h"
#include "audio/units/level_meter.h"

#include <atomic>
#include <memory>

namespace kx5 {

class PulsePlayback;

class AudioOutputUnit final : public AudioOutputStream {
  public:
    static constexpr size_t kBufferBytes = 4096;
    static constexpr int kBufferCount = 4;

    AudioOutputUnit();
    ~AudioOutputUnit() override;

    AudioOutputStreamDelegate* client() const override { return client_; }
    void setClient(AudioOutputStreamDelegate* client) override { client_ = client; }
    WaveFormat format() const override { return unitWaveFormat(); }
    void start(const std::string& uid) override;
    void pause() override;
    void stop() override;
    float volume() const override { return volume_; }
    void setVolume(float volume) override { volume_ = volume; }
    int32_t channels() const override { return 2; }
    float peakPower(int32_t channel) override;
    float time() const override;
    int32_t status() const override;

  private:
    void fillStep(uint8_t* buffer, size_t bytes);
    // The stream broke (on its own thread): closed, and the client told.
    void failed();
    bool onOwnThread() const;
    void closeState();

    std::atomic<AudioOutputStreamDelegate*> client_{nullptr};
    std::atomic<bool> open_{false};
    std::atomic<bool> running_{false};
    std::atomic<float> volume_{1.0f};
    std::atomic<uint32_t> frames_{0};
    LevelMeter meter_{4};
    // Touched only by the controlling thread; a stream that stopped itself
    // from its callback stays here until that thread releases it.
    std::unique_ptr<PulsePlayback> engine_;
};

} // namespace kx5
