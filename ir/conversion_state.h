// The state of the one impulse-response conversion of the process, shared by
// the request handler (UI thread), the worker and the progress poll.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace kx5 {

namespace conversion {
// The rounded value of pi the conversion uses (0x400921FB54442D11).
constexpr double kPi = 3.14159265358979;
constexpr int kBufferLength = 48000; // half a second at 96 kHz
constexpr int kMaxTaps = 1640;
constexpr int kTapPositions = 4080;
constexpr int kLoopSteps = 24;
constexpr double kSilence = 0.001953125; // 2^-9
constexpr int kValueCount = 3354;        // values in the coefficient file
} // namespace conversion

struct ConversionState {
    ConversionState()
        : taps(conversion::kBufferLength, 0.0), source(conversion::kBufferLength, 0.0),
          ir96k(conversion::kBufferLength, 0.0) {}

    int32_t tapCount = 0;
    std::vector<double> taps;
    std::array<int32_t, conversion::kLoopSteps> loopTarget{};
    std::array<int32_t, conversion::kLoopSteps> loopSource{};
    int32_t leadSilence = 0;
    std::array<double, conversion::kLoopSteps> loopGain{};
    int32_t sourceChannels = 0;
    int32_t sourceRate = 0;
    // Frames of the chosen channel in `source` (after the leading silence
    // and the length cap).
    int32_t sourceFrames = 0;
    int32_t length96k = 0;
    std::atomic<int32_t> cancelRequested{0};
    int32_t progress = 0; // UI thread only
    std::atomic<int32_t> stage{0};
    std::atomic<int32_t> stageCount{0};
    std::vector<double> source;
    std::vector<double> ir96k;

    // Worker: enters a stage with its counter at 0.
    void enterStage(int32_t s) {
        stageCount.store(0, std::memory_order_relaxed);
        stage.store(s, std::memory_order_release);
    }
};

// The progress poll (UI thread): percentage from the current stage and its
// counter, never below an earlier answer, within 1..100.
int32_t pollProgress(ConversionState& state);

} // namespace kx5
