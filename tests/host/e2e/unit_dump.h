// Reading the simulated unit's memory dump (the JSON kx5-sim and the
// in-process unit write) and the coefficient file of a conversion.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kx5::e2e {

// Block id ("SYSTEM%COMMON", "IRDATA(3)%DATA"...) -> data bytes as hex text.
using DumpBlocks = std::map<std::string, std::string>;

std::optional<DumpBlocks> blocksOfDump(const std::string& json);

// A count of the dump's "stats" ("messages", "overruns", "replies"...).
std::optional<double> statOfDump(const std::string& json, const std::string& name);

// One impulse-response slot as the unit holds it.
struct SlotImage {
    std::string name; // trailing spaces removed
    std::string file; // the file name's bytes (UTF-8)
    unsigned fileBytes = 0;
    std::vector<uint32_t> words;
};

// Slot k (1-based): name bytes, the file name's byte count in four 4-bit
// digits, one byte per two digits of the file name, eight 4-bit digits per
// coefficient word, most significant first.
std::optional<SlotImage> slotOfDump(const DumpBlocks& blocks, int k);
std::optional<SlotImage> slotOfDump(const std::string& json, int k);

// The words of a coefficient file: 4-byte little-endian each.
std::vector<uint32_t> wordsOfCoefficientFile(const std::string& bytes);

// A whole file as bytes; nothing when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);

} // namespace kx5::e2e
