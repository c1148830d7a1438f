// Running signal level of two channels over a ring of recent buffers, read
// as peak power in decibels with instant attack and a smooth release.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace kx5 {

class LevelMeter {
  public:
    explicit LevelMeter(int slots, double rate = 44100.0);

    void setRate(double rate);
    void reset();
    // One buffer: the frames it held and the sums of squares per channel.
    void push(uint32_t frames, float sumLeft, float sumRight);
    // Decibels of channel 0 or 1 relative to 16-bit full scale, -120 at most
    // down (and for any other channel).
    float peakPower(int channel);

  private:
    std::mutex mutex_;
    double rate_;
    int slots_;
    int index_ = 0;
    std::vector<uint32_t> slotFrames_; // [slot * 2 + channel]
    std::vector<float> slotSums_;
    uint32_t runningFrames_[2] = {0, 0};
    float runningSums_[2] = {0, 0};
    float held_[2] = {0, 0};
    bool read_ = false;
};

// The volume law of the units: 0 at or below 0, 1 at or above 1, otherwise
// volume^1.75.
float volumeGain(float volume);

// Scales interleaved 16-bit samples in place by gain (truncating) and adds
// the squares of the scaled values of channels 0 and 1 to the sums; a mono
// buffer counts for both channels.
void applyGain(int16_t* samples, uint32_t frames, int channels, float gain, float& sumLeft,
               float& sumRight);

} // namespace kx5
