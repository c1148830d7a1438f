// What the library knows of an impulse response's sound: a 64-point
// frequency-response curve (the thumbnail, also the basis of similarity)
// and the spectral centroid ("brightness").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

namespace kx5 {

constexpr size_t kThumbnailPoints = 64;
constexpr double kThumbnailLowHz = 20.0;
constexpr double kThumbnailHighHz = 20000.0;
// Points above a file's Nyquist frequency, and the bottom of every curve.
constexpr float kThumbnailFloorDb = -120.0f;

using Thumbnail = std::array<float, kThumbnailPoints>;

struct IrSound {
    Thumbnail thumbnail{}; // dB of the power spectrum at log-spaced points
    double brightnessHz = 0.0;
};

// The centre frequency of thumbnail point i (20 Hz to 20 kHz, log spaced).
double thumbnailFrequency(size_t i);

// RMS difference in dB of the two curves' shapes: each is measured from its
// own mean (the level does not count) and clipped 60 dB below its peak, so
// deep notches and the noise floor do not dominate.
double thumbnailDistance(const Thumbnail& a, const Thumbnail& b);

// Analyses mono samples with FFTW (single precision). One analyser per
// thread; it keeps its plans and buffers for the sizes it has met.
class IrAnalyser {
  public:
    IrAnalyser();
    ~IrAnalyser();
    IrAnalyser(const IrAnalyser&) = delete;
    IrAnalyser& operator=(const IrAnalyser&) = delete;

    // The transform covers the samples zero-padded to a power of two of at
    // least 4096.
    IrSound analyse(const float* samples, size_t count, uint32_t sampleRate);

  private:
    struct Plan;
    Plan& planFor(size_t size);
    std::map<size_t, std::unique_ptr<Plan>> plans_;
};

} // namespace kx5
