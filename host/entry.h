// Start-up helpers shared by every mode.
#pragma once

#include "host/native_host.h"

#include <string>

namespace kx5 {

// The executable's base name without directory and extension.
std::string appNameFromExecutable(const std::string& argv0);

// Takes the window toolkit's own options out of argc/argv (no display needed).
void takeToolkitArguments(int& argc, char**& argv);

// The windowed program (host/gtk/ on Linux), given the arguments without the
// toolkit's options. Returns the exit code.
int runWindow(const std::string& appName, const HostOptions& options, int argc, char** argv);

} // namespace kx5
