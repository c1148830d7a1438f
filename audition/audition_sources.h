// What an audition plays: a DI phrase (any audio file, its channels mixed
// to one) and an impulse response as the unit uses it (the channel the
// conversion takes, from its first audible frame, at most half a second),
// brought to the phrase's rate, and the phrase rendered through it.
#pragma once

#include "irfile/audio_source.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kx5 {

struct MonoSound {
    std::vector<float> samples;
    uint32_t rate = 0;
};

// At most this much of a DI recording is played: enough for a riff, and
// short enough to render between a click and its sound (see the benchmark).
constexpr double kMaxPhraseSeconds = 10.0;

std::variant<MonoSound, SourceRefusal> readDiPhrase(const std::string& path);

// channel: 0 left (or mono), 1 right, 2 both mixed. tempFolder ends in "/".
std::variant<MonoSound, SourceRefusal> readAuditionIr(const std::string& path, int channel,
                                                      const std::string& tempFolder);

// The sound at another rate (libswresample).
std::vector<float> resampled(const std::vector<float>& samples, uint32_t from, uint32_t to);

struct Rendering {
    std::vector<float> samples; // at the phrase's rate
    uint32_t rate = 0;
    double rmsDb = -200; // of the whole rendering, re full scale
    double peakDb = -200;
};

Rendering renderThrough(const MonoSound& phrase, const MonoSound& ir);

} // namespace kx5
