// The bridge console's line format: one JSON array per input line, one JSON
// object per output line. Output is always valid JSON: ill-formed UTF-8 in a
// value (a result, an event, the rest of a bad line) becomes U+FFFD.
#pragma once

#include "bridge/native_call.h"

#include <string>

namespace kx5 {

// Turns one input line into a call name and argument texts; returns an error
// text (empty on success). A ["wait", MS] line sets waitMs. Nesting deeper
// than the bridge's JSON limit is an error, not a crash.
std::string parseConsoleLine(const std::string& line, std::string& callName, Args& args,
                             long& waitMs);

// {"<key>":"<value>"} and a line feed.
std::string consoleOutputLine(const char* key, const std::string& value);

} // namespace kx5
