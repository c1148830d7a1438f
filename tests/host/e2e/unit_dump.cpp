#include "tests/host/e2e/unit_dump.h"

#include <picojson.h>

#include <fstream>
#include <iterator>

namespace kx5::e2e {
namespace {

std::vector<uint8_t> bytesOfHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

} // namespace

std::optional<DumpBlocks> blocksOfDump(const std::string& json) {
    picojson::value dump;
    if (!picojson::parse(dump, json).empty() || !dump.is<picojson::object>()) return std::nullopt;
    const picojson::value& blocks = dump.get("blocks");
    if (!blocks.is<picojson::object>()) return std::nullopt;
    DumpBlocks out;
    for (const auto& [id, data] : blocks.get<picojson::object>()) {
        if (!data.is<std::string>()) return std::nullopt;
        out[id] = data.get<std::string>();
    }
    return out;
}

std::optional<double> statOfDump(const std::string& json, const std::string& name) {
    picojson::value dump;
    if (!picojson::parse(dump, json).empty() || !dump.is<picojson::object>()) return std::nullopt;
    const picojson::value& v = dump.get("stats").get(name);
    if (!v.is<double>()) return std::nullopt;
    return v.get<double>();
}

std::optional<SlotImage> slotOfDump(const DumpBlocks& blocks, int k) {
    const std::string id = "IRDATA(" + std::to_string(k) + ")%";
    for (const char* part : {"NAME", "SIZE", "FILE", "DATA"})
        if (!blocks.count(id + part)) return std::nullopt;
    SlotImage slot;
    for (uint8_t c : bytesOfHex(blocks.at(id + "NAME")))
        slot.name.push_back(static_cast<char>(c));
    slot.name.erase(slot.name.find_last_not_of(' ') + 1);
    for (uint8_t digit : bytesOfHex(blocks.at(id + "SIZE")))
        slot.fileBytes = slot.fileBytes * 16 + (digit & 0x0f);
    const auto file = bytesOfHex(blocks.at(id + "FILE"));
    for (size_t i = 0; i + 1 < file.size() && slot.file.size() < slot.fileBytes; i += 2)
        slot.file.push_back(static_cast<char>(((file[i] & 0x0f) << 4) | (file[i + 1] & 0x0f)));
    const auto data = bytesOfHex(blocks.at(id + "DATA"));
    for (size_t i = 0; i + 7 < data.size(); i += 8) {
        uint32_t w = 0;
        for (size_t j = 0; j < 8; ++j)
            w = (w << 4) | (data[i + j] & 0x0f);
        slot.words.push_back(w);
    }
    return slot;
}

std::optional<SlotImage> slotOfDump(const std::string& json, int k) {
    const auto blocks = blocksOfDump(json);
    return blocks ? slotOfDump(*blocks, k) : std::nullopt;
}

std::vector<uint32_t> wordsOfCoefficientFile(const std::string& bytes) {
    std::vector<uint32_t> words;
    for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
        const auto b = [&](size_t j) {
            return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + j]));
        };
        words.push_back(b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24));
    }
    return words;
}

std::optional<std::string> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace kx5::e2e
