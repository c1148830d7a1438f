// Start-up helpers shared by every mode.
#pragma once

#include "host/native_host.h"

#include <string>

namespace kx5 {

// The executable's base name without directory and extension.
std::string appNameFromExecutable(const std::string& argv0);

// The windowed program (host/gtk/ on Linux). Returns the exit code.
int runWindow(const std::string& appName, const HostOptions& options, int argc, char** argv);

} // namespace kx5
