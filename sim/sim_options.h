// Command-line options of the standalone simulated unit.
#pragma once

#include "sim/kx5_unit.h"

#include <optional>
#include <string>
#include <vector>

namespace kx5::sim {

struct SimOptions {
    UnitOptions unit;
    std::string api = "alsa";      // "alsa" or "jack"
    std::string name = "KX-5 Sim"; // client and port name
    std::string mapFile;           // empty: the built-in definition
    std::string dumpFile;          // written at exit and on SIGUSR1
    std::string dumpInitialFile;   // write the power-up memory and exit
    std::string memoryFile;        // start with the memory of this dump
    int replyDelayMs = 0;
    bool verbose = false;
    bool help = false;
};

// Parses argv[1..]; on a bad option returns nothing and sets error.
std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const kSimUsage;

} // namespace kx5::sim
