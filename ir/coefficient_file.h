// The coefficient file the page sends to the unit: 3354 little-endian
// single-precision values (13416 bytes), no header.
//   0     1640 tap values (taps before the tail start), then 0.0
//   6560  1640 tap positions i * 2^-14, then 0.2490234375
//   13120 24 loop targets (target - 2, or 1.0 when target <= 2)
//   13216 24 loop sources * 2^-14
//   13312 24 loop gains
//   13408 leading silence in 96 kHz samples
//   13412 1.0
#pragma once

#include "ir/conversion_state.h"

#include <string>
#include <vector>

namespace kx5 {

constexpr const char* kCoefficientFileName = "VLM00000.tmp";

std::vector<float> coefficientValues(const ConversionState& state);

// Writes the values to a temporary file beside path and renames it over
// path. On failure nothing is left at path (an older file is removed so that
// it cannot pass for this conversion's result).
bool writeCoefficientFile(const std::string& path, const std::vector<float>& values);

} // namespace kx5
