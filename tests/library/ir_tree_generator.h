// Generates a tree of IR files like a large collection of packs: nested
// vendor, cabinet, speaker and microphone folders, long names, mixed WAV
// kinds (8/16/24/32-bit PCM, 32-bit float), rates from 44.1 to 192 kHz,
// lengths from 0.1 to 2 s, mono and stereo, and a few files that are
// damaged or not WAV files at all. The same seed gives the same tree.
#pragma once

#include <cstdint>
#include <string>

namespace kx5::test {

struct GeneratedTree {
    size_t files = 0;      // every file written
    size_t unreadable = 0; // of those, the ones the library must refuse
    uint64_t bytes = 0;
};

// root without a trailing "/"; created when missing.
GeneratedTree generateIrTree(const std::string& root, size_t count, uint32_t seed = 1);

} // namespace kx5::test
