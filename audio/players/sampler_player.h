// One sampler voice: plays a range of one file on its own output stream with
// repeats, fades and short ramps that keep every start, stop, pause, seek and
// loop jump free of clicks.
#pragma once

#include "audio/units/level_meter.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kx5 {

class AudioFileReader;
class PulsePlayback;

class SamplePlayerDelegate {
  public:
    virtual ~SamplePlayerDelegate() = default;
    // The voice reached the end of its range with no repeats left.
    virtual void samplerEndOfFile(int32_t id, const std::string& path) = 0;
};

class SamplerPlayer {
  public:
    enum State : int32_t { kStopped = 0, kStopping = 1, kPlaying = 2, kPaused = 3 };
    static constexpr int kBufferMs = 20;
    static constexpr int kBufferCount = 4;

    SamplerPlayer(int32_t id, std::shared_ptr<SamplePlayerDelegate> delegate);
    ~SamplerPlayer();
    SamplerPlayer(const SamplerPlayer&) = delete;
    SamplerPlayer& operator=(const SamplerPlayer&) = delete;

    int32_t id() const { return id_; }
    std::string device(const std::string* uid);
    bool open(const std::string& path);
    void close();
    void play();
    void pause();
    void stop(bool force);
    void locate(float seconds);
    float begin(const float* seconds);
    float end(const float* seconds);
    float volume(const float* gain);
    int32_t repeat(const int32_t* count);
    float speed(const float* rate);
    float pitch(const float* cents);
    float fadeIn(const float* seconds);
    float fadeOut(const float* seconds);
    std::string file() const;
    float totalTime() const;
    float time() const;
    State state() const;
    float peakPower(int channel) { return meter_.peakPower(channel); }

  private:
    bool openDevice();
    void closeDevice();
    // Seeks within [lo, range end] with the voice faded out around the jump;
    // true when the reader moved.
    bool locateWithin(float seconds, float lo);
    // The stream's callback: one buffer.
    void serviceBuffer(uint8_t* buffer, size_t bytes);
    size_t fill(uint8_t* buffer, size_t bytes);
    // Decoded bytes into dst (looping at the file's end while repeats are
    // left); -1 on a decoding error.
    long readStep(uint8_t* dst, size_t want);
    bool seekReader(float seconds);
    void stopAtEnd();
    void restAtBegin();
    float targetGain();
    size_t halfBuffer(size_t bytes) const;

    const int32_t id_;
    std::shared_ptr<SamplePlayerDelegate> delegate_;
    mutable std::mutex mutex_;

    std::unique_ptr<AudioFileReader> reader_;
    std::vector<uint8_t> pending_;
    size_t pendingRead_ = 0;
    int channels_ = 0;
    uint32_t rate_ = 0;
    std::string uid_;
    std::string path_;

    float duration_ = 0;
    float position_ = 0;
    float startPosition_ = 0;
    float beginPoint_ = 0;
    float endOffset_ = 0;
    bool transition_ = false;
    bool playing_ = false;
    bool paused_ = false;
    bool startAtZero_ = false;
    uint32_t framesPlayed_ = 0;
    uint32_t fadeOutStart_ = 0;
    bool fastStop_ = false;
    int32_t repeatCount_ = 0;
    int32_t repeatsRemaining_ = 0;
    float volume_ = 1.0f;
    float speed_ = 1.0f;
    float pitch_ = 0.0f;
    float fadeInTime_ = 0.0f;
    float fadeOutTime_ = 0.0f;
    float lastGain_ = 0.0f;

    LevelMeter meter_{4};
    // Only the controlling thread creates and destroys the stream.
    std::unique_ptr<PulsePlayback> engine_;
};

// Scales interleaved 16-bit samples by a gain moving linearly from g0 to g1
// over the frames; adds the squares of channels 0 and 1 to the sums when given.
void rampSamples(int16_t* samples, size_t frames, int channels, float g0, float g1,
                 float* sumLeft = nullptr, float* sumRight = nullptr);

} // namespace kx5
