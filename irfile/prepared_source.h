// The file the conversion is given for any audio file: the file itself when
// the conversion takes it as it stands, otherwise a plain PCM or float WAVE
// copy in the private temporary folder that holds the same samples (the
// stored precision kept: 8/16/24/32-bit integers as they are, other integer
// widths in the next wider one, float as 32-bit float). The two channels of
// a stereo file can also be mixed into one ("[M]"): (left + right) / 2 as
// 32-bit float, exact for sources of up to 24 bits.
#pragma once

#include "audio/interface/wave_format.h"
#include "irfile/audio_source.h"

#include <string>
#include <variant>

namespace kx5 {

enum class ChannelUse { AsStored, Mix };

struct PreparedSource {
    std::string path; // what to convert (and to preview)
    bool decoded = false;
    bool mixed = false;
    bool cut = false; // longer than kMaxPreparedSeconds: only their start was copied
    SourceFormat source;
    WaveFormat written; // the copy's format (tag 0 when the file is used as it is)
};

using Preparation = std::variant<PreparedSource, SourceRefusal>;

// Longer files are cut in their copy: the unit uses half a second after the
// first audible frame.
constexpr double kMaxPreparedSeconds = 30.0;

// tempFolder ends in "/". A copy is reused while the file keeps its size and
// modification time; at most kKeptCopies copies are kept.
Preparation prepareSource(const std::string& path, ChannelUse use, const std::string& tempFolder);

constexpr int kKeptCopies = 32;
constexpr const char* kCopyPrefix = "ir-source-";

// The copy's format for a source (mixed: mono 32-bit float).
WaveFormat plainFormatFor(const SourceFormat& source, bool mixed);

} // namespace kx5
