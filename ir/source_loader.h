// Loads the part of a WAVE file a conversion uses into ConversionState: the
// chosen channel from the first frame whose left (first) sample is audible,
// at most half a second and at most 48000 frames.
#pragma once

#include "ir/conversion_state.h"

#include <string>

namespace kx5 {

class CWaveFile;

enum class LoadResult { Loaded, NotFound, Unsupported };

// True when the conversion reads an opened file as it stands: a sample
// format it converts, every sample its header announces present, a rate it
// can use. Files it does not take are decoded into a plain copy first
// (irfile/).
bool conversionTakes(const CWaveFile& wave);

// channel 1 picks the second channel of a stereo file, anything else the
// first. Unsupported: not a readable PCM/float mono or stereo file, fewer
// samples than the header announces, no audible frame, a sample that is not
// finite, or nothing left to resample.
LoadResult loadConversionSource(const std::string& path, int channel, ConversionState& state);

} // namespace kx5
