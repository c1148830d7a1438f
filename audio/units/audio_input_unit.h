// Records 16-bit stereo 44.1 kHz audio from one audio endpoint and pushes
// it to its client, applying the volume and metering the level.
#pragma once

#include "audio/interface/audio_stream.h"
#include "audio/units/level_meter.h"

#include <atomic>
#include <memory>

namespace kx5 {

class PulseCapture;

class AudioInputUnit final : public AudioInputStream {
  public:
    static constexpr size_t kBufferBytes = 4096;

    AudioInputUnit();
    ~AudioInputUnit() override;

    AudioInputStreamDelegate* client() const override { return client_; }
    void setClient(AudioInputStreamDelegate* client) override { client_ = client; }
    WaveFormat format() const override { return unitWaveFormat(); }
    void start(const std::string& uid) override;
    void pause() override;
    void stop(bool silent) override;
    float volume() const override { return volume_; }
    void setVolume(float volume) override { volume_ = volume; }
    int32_t channels() const override { return 2; }
    float peakPower(int32_t channel) override;
    float time() const override;
    int32_t status() const override;

  private:
    void dataStep(uint8_t* buffer, size_t bytes);
    bool onOwnThread() const;
    void closeState();

    std::atomic<AudioInputStreamDelegate*> client_{nullptr};
    std::atomic<bool> open_{false};
    std::atomic<bool> running_{false};
    std::atomic<float> volume_{1.0f};
    std::atomic<uint32_t> frames_{0};
    LevelMeter meter_{1};
    std::unique_ptr<PulseCapture> engine_;
};

} // namespace kx5
