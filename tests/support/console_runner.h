// Runs the built program's bridge console with given input lines and
// environment, and returns its output lines.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kx5::test {

struct ConsoleRun {
    std::vector<std::string> lines;
    int exitCode = -1;
};

// env entries replace or add variables; an empty value removes one.
ConsoleRun runConsole(const std::string& executable, const std::vector<std::string>& input,
                      const std::map<std::string, std::string>& env,
                      const std::vector<std::string>& extraArgs = {});

// The value of {"r":...} / {"e":...} lines, in order.
std::vector<std::string> valuesOf(const ConsoleRun& run, const std::string& key);

} // namespace kx5::test
