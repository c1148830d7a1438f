// Deterministic cabinet-like impulse responses for tests and the benchmark:
// a few damped resonances plus decaying noise after a stretch of silence,
// over a noise floor 70-90 dB below the peak as in a recording.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace kx5::test {

// Mono samples in [-1, 1). floorLevel > 0 replaces the random noise floor.
inline std::vector<double> generateImpulseResponse(uint32_t seed, int rate, int frames,
                                                   int silentFrames = 0, double floorLevel = 0.0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    struct Mode {
        double freq, decay, amp, phase;
    };
    std::vector<Mode> modes;
    const int modeCount = 3 + int(uni(rng) * 5);
    for (int i = 0; i < modeCount; ++i)
        modes.push_back({80.0 * std::pow(60.0, uni(rng)), 60.0 + 1000.0 * uni(rng),
                         0.2 + 0.8 * uni(rng), 6.283 * uni(rng)});
    const double noiseDecay = 100.0 + 400.0 * uni(rng);
    double floor = std::pow(10.0, -(70.0 + 20.0 * uni(rng)) / 20.0);
    if (floorLevel > 0.0) floor = floorLevel;
    std::vector<double> out(size_t(frames), 0.0);
    double peak = 0.0;
    for (int i = silentFrames; i < frames; ++i) {
        const double t = double(i - silentFrames) / rate;
        double v = 0.3 * noise(rng) * std::exp(-t * noiseDecay);
        for (const Mode& m : modes)
            v +=
                m.amp * std::exp(-t * m.decay) * std::sin(6.283185307179586 * m.freq * t + m.phase);
        out[size_t(i)] = v;
        peak = std::max(peak, std::fabs(v));
    }
    const double scale = (0.5 + 0.4 * uni(rng)) / peak;
    for (int i = silentFrames; i < frames; ++i)
        out[size_t(i)] = out[size_t(i)] * scale + floor * noise(rng);
    // The first frame after the silence must be audible.
    if (silentFrames < frames && std::fabs(out[size_t(silentFrames)]) < 0.01)
        out[size_t(silentFrames)] = 0.25;
    return out;
}

} // namespace kx5::test
