// Loads the part of a WAVE file a conversion uses into ConversionState: the
// chosen channel from the first frame whose left (first) sample is audible,
// at most half a second and at most 48000 frames.
#pragma once

#include "ir/conversion_state.h"

#include <string>

namespace kx5 {

enum class LoadResult { Loaded, NotFound, Unsupported };

// channel 1 picks the second channel of a stereo file, anything else the
// first. Unsupported: not a readable PCM/float mono or stereo file, fewer
// samples than the header announces, no audible frame, a sample that is not
// finite, or nothing left to resample.
LoadResult loadConversionSource(const std::string& path, int channel, ConversionState& state);

} // namespace kx5
