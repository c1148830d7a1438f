// Any audio file a guitarist may hold an impulse response in, read the way
// the conversion sees it. A WAVE file the conversion takes as it stands is
// read by the conversion's own reader (CWaveFile); anything else (WAVE with
// the extensible header, 64-bit float, odd chunks, AIFF, FLAC...) is decoded
// by FFmpeg, sample for sample: no resampling, no change of channels.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kx5 {

struct SourceFormat {
    std::string container; // "wav", "aiff", "flac"...
    std::string codec;     // "pcm", "float", or the codec's name ("flac", "alac")
    bool floating = false; // float samples (else integer)
    uint32_t bits = 0;     // bits of a stored sample; 0 when the codec does not say
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint64_t frames = 0; // as the file announces them
    // The conversion reads the file as it stands (no decoded copy needed).
    bool direct = false;
};

// Why a file cannot be used, in words for the user.
struct SourceRefusal {
    std::string reason;
};

using SourceDescription = std::variant<SourceFormat, SourceRefusal>;

// Reads the header only (and, for a file the conversion does not take, what
// FFmpeg needs to name its stream).
SourceDescription describeSource(const std::string& path);

struct SourceSamples {
    SourceFormat format;
    std::vector<double> interleaved; // frames x channels, as the conversion reads them
    uint64_t frames = 0;             // frames read
    bool cut = false;                // the file holds more than maxFrames
};

using SourceRead = std::variant<SourceSamples, SourceRefusal>;

// The samples of the first maxFrames frames (all when the file is shorter).
SourceRead readSource(const std::string& path, uint64_t maxFrames);

} // namespace kx5
