// The one place that knows audio file formats for the library: which names
// are candidates, and reading a candidate's description and its first
// samples, as the conversion will see them (irfile/audio_source: WAVE of
// every kind, AIFF, FLAC).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kx5 {

struct IrAudio {
    std::string format; // "wav-pcm", "wav-float", "aiff-pcm", "flac-pcm"...
    uint32_t sampleRate = 0;
    uint32_t bits = 0;
    uint32_t channels = 0;
    uint32_t frames = 0; // the whole file
    // The first channel of the first frames read (at most maxSeconds).
    std::vector<float> firstChannel;
    // Digest of the decoded frames read (all channels) and of the length,
    // rate and channel count: the same sound gives the same key wherever
    // the file lies and whatever its name.
    uint64_t contentKey = 0;
};

// Why a candidate is not in the library, in words for the user.
struct IrUnreadable {
    std::string reason;
};

using IrReadResult = std::variant<IrAudio, IrUnreadable>;

// File names the library looks at (by extension, any case).
bool isIrFileName(std::string_view name);

// Reads the description and up to maxSeconds of samples. A file that the
// conversion would refuse (unsupported format, more than two channels,
// shorter than its header says, silent, not finite) is unreadable here too.
IrReadResult readIrFile(const std::string& path, double maxSeconds);

} // namespace kx5
