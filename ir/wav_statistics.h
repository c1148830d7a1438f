// The "wavstat" control command: describes a WAVE file for the page.
#pragma once

#include <picojson.h>

namespace kx5 {

// args: {"path": string}. On success adds bits, channels, format,
// sampleRate, samples and, for a file with an "acid" chunk whose tempo is 0
// or more, tempo, numerator, denominator and beatCount. A missing or
// non-string "path" throws picojson's type error.
bool wavStatistics(const picojson::object& args, picojson::object& result);

} // namespace kx5
