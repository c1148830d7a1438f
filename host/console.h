// Headless bridge console: one JSON array per input line, run through the
// dispatcher on the UI thread exactly as a page call; one JSON line per
// result and per event on stdout. ["functions"] prints every module's
// function names in id order.
#pragma once

#include "host/console_line.h"
#include "host/native_host.h"

#include <iosfwd>
#include <string>

namespace kx5 {

// Reads lines from the file descriptor input until its end, app.exit or
// SIGTERM, SIGINT or SIGHUP.
int runConsole(const AppPaths& paths, const HostOptions& options, int input, std::ostream& out);

} // namespace kx5
