// Address packing, checksums and the frames of the KX-5's exclusive
// messages, as seen from the unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx5::sim {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSysexStart = 0xF0;
constexpr uint8_t kSysexEnd = 0xF7;
constexpr uint8_t kCommandRq1 = 0x11;
constexpr uint8_t kCommandDt1 = 0x12;
constexpr uint8_t kAllDevices = 0x7F;

// Four 7-bit groups -> linear 28-bit value, and back.
uint32_t nibble(uint32_t packed);
uint32_t sevenBitize(uint32_t linear);

// (128 - sum % 128) & 0x7F over the given bytes.
uint8_t checksum(const uint8_t* bytes, size_t size);

struct ModelIdentity {
    uint8_t manufacturerId = 0x7D;
    std::vector<uint8_t> modelId;
};

// A maker message addressed by device and model.
struct MakerMessage {
    uint8_t deviceId = 0;
    uint8_t command = 0;
    uint32_t address = 0; // linear
    uint32_t size = 0;    // RQ1 only, linear
    Bytes data;           // DT1 only
    bool checksumOk = false;
};

// Parses F0 <maker> <device> <model...> <command> ... F7 for this model.
// Returns nothing for other makers, models, commands or malformed frames.
std::optional<MakerMessage> parseMakerMessage(const Bytes& message, const ModelIdentity& id);

Bytes dt1Frame(const ModelIdentity& id, uint8_t deviceId, uint32_t address, const uint8_t* data,
               size_t size);

bool isIdentityRequest(const Bytes& message);

// F0 7E <device> 06 02 <maker> <family 2> <member 2> <version 4> F7. The
// family is the model's third and second bytes, or for a 00-prefixed model
// its last byte and the number of model bytes less one.
Bytes identityReply(const ModelIdentity& id, uint8_t deviceId, const uint8_t version[4]);

std::string hexText(const uint8_t* bytes, size_t size);
inline std::string hexText(const Bytes& b) {
    return hexText(b.data(), b.size());
}
// Pairs of hex digits; fails (nullopt) on anything else.
std::optional<Bytes> parseHex(const std::string& text);

} // namespace kx5::sim
