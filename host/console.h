// Headless bridge console: one JSON array per input line, run through the
// dispatcher on the UI thread exactly as a page call; one JSON line per
// result and per event on stdout. ["functions"] prints every module's
// function names in id order.
#pragma once

#include "host/native_host.h"

#include <iosfwd>
#include <string>

namespace kx5 {

int runConsole(const AppPaths& paths, const HostOptions& options, std::istream& in,
               std::ostream& out);

// Turns one input line into a call name and argument texts; returns an error
// text (empty on success). A ["wait", MS] line sets waitMs.
std::string parseConsoleLine(const std::string& line, std::string& callName, Args& args,
                             long& waitMs);

} // namespace kx5
