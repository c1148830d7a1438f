// The program's command line as a whole: every switch it knows (its own, the
// window's and the modules'), --help and --version, and a clear message for
// a switch nobody knows. Each part still reads its own switches' values.
#pragma once

#include <string>
#include <vector>

namespace kx5 {

enum class CommandLineAction { Run, Help, Version, Error };

struct CommandLineCheck {
    CommandLineAction action = CommandLineAction::Run;
    std::string error; // with Error: what is wrong, for the user
};

// Checks the arguments after the program name (the window toolkit's own
// options already taken out). "--" ends the switches; "-" and everything
// not starting with "-" are files to open.
CommandLineCheck checkCommandLine(const std::vector<std::string>& arguments);

// True for a switch whose value is the next argument ("--simulated-unit-dump FILE").
bool switchTakesNextArgument(const std::string& argument);

// "Usage: NAME [OPTION...] [FILE...]" and a line per switch.
std::string commandLineHelp(const std::string& programName);

// The project's version, as the build was configured ("0.1.0").
const char* programVersion();

} // namespace kx5
