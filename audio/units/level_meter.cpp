#include "audio/units/level_meter.h"

#include <algorithm>
#include <cmath>

namespace kx5 {

LevelMeter::LevelMeter(int slots, double rate)
    : rate_(rate), slots_(std::max(1, slots)), slotFrames_(2 * slots_, 0),
      slotSums_(2 * slots_, 0) {}

void LevelMeter::setRate(double rate) {
    std::lock_guard lock(mutex_);
    rate_ = rate;
}

void LevelMeter::reset() {
    std::lock_guard lock(mutex_);
    std::fill(slotFrames_.begin(), slotFrames_.end(), 0);
    std::fill(slotSums_.begin(), slotSums_.end(), 0.0f);
    index_ = 0;
    runningFrames_[0] = runningFrames_[1] = 0;
    runningSums_[0] = runningSums_[1] = 0;
    held_[0] = held_[1] = 0;
    read_ = false;
}

void LevelMeter::push(uint32_t frames, float sumLeft, float sumRight) {
    std::lock_guard lock(mutex_);
    slotSums_[index_ * 2] += sumLeft;
    slotSums_[index_ * 2 + 1] += sumRight;
    slotFrames_[index_ * 2] = slotFrames_[index_ * 2 + 1] = frames;
    index_ = (index_ + 1) % slots_;
    if (read_) {
        runningFrames_[0] = runningFrames_[1] = 0;
        runningSums_[0] = runningSums_[1] = 0;
    }
    // The oldest slot joins the running totals and starts over.
    for (int c = 0; c < 2; ++c) {
        runningFrames_[c] += slotFrames_[index_ * 2 + c];
        runningSums_[c] += slotSums_[index_ * 2 + c];
        slotFrames_[index_ * 2 + c] = 0;
        slotSums_[index_ * 2 + c] = 0;
    }
    read_ = false;
}

float LevelMeter::peakPower(int channel) {
    if (channel < 0 || channel > 1) return -120.0f;
    float level = 0;
    {
        std::lock_guard lock(mutex_);
        const uint32_t n = runningFrames_[channel];
        if (n > 0) {
            const float rms = std::sqrt(runningSums_[channel] / static_cast<float>(n));
            float& held = held_[channel];
            if (held > rms) {
                const float release = 1.0f - static_cast<float>(std::exp(-6.0 * n / rate_));
                held = std::max(0.0f, held + release * (rms - held));
            } else {
                held = rms;
            }
            read_ = true;
            level = held;
        }
    }
    level *= 1.0f / 32768.0f;
    if (level <= 0) return -120.0f;
    const float db = 20.0f * std::log10(level);
    return db < -120.0f ? -120.0f : db;
}

float volumeGain(float volume) {
    if (!(volume > 0)) return 0;
    if (volume >= 1) return 1;
    return std::pow(volume, 1.75f);
}

void applyGain(int16_t* samples, uint32_t frames, int channels, float gain, float& sumLeft,
               float& sumRight) {
    double left = 0, right = 0;
    for (uint32_t f = 0; f < frames; ++f) {
        int16_t* frame = samples + static_cast<size_t>(f) * channels;
        for (int c = 0; c < channels; ++c) {
            const float v = frame[c] * gain;
            frame[c] = static_cast<int16_t>(v);
            if (c == 0) left += static_cast<double>(v) * v;
            if (c == 1 || channels == 1) right += static_cast<double>(v) * v;
        }
    }
    sumLeft += static_cast<float>(left);
    sumRight += static_cast<float>(right);
}

} // namespace kx5
