// The unit's memory layout, read from the address-map definition file the
// page uses too (resources/bundle/html/data/kx5-address-map.json).
#pragma once

#include "sim/sysex_codec.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx5::sim {

struct BlockDef {
    std::string id;   // "AREA%BLOCK"
    uint32_t address; // absolute, linear
    uint32_t size;    // bytes; for a variable block its largest size
    bool variable;    // four length digits (least significant first), then data
    Bytes initial;    // image at power-up (a variable block: four zero digits)
};

class AddressMap {
  public:
    // Throws std::runtime_error naming the first problem found.
    static AddressMap parse(std::string_view json);
    // The definition built into this program.
    static const AddressMap& builtIn();

    const std::string& product() const { return product_; }
    const ModelIdentity& identity() const { return identity_; }
    uint8_t deviceId() const { return deviceId_; }
    int communicationLevel() const { return communicationLevel_; }

    // In ascending address order; blocks never overlap.
    const std::vector<BlockDef>& blocks() const { return blocks_; }
    const BlockDef* find(std::string_view id) const;
    // Index of the block whose span holds the linear address.
    std::optional<size_t> locate(uint32_t address) const;

  private:
    std::string product_;
    ModelIdentity identity_;
    uint8_t deviceId_ = 0x10;
    int communicationLevel_ = 0;
    std::vector<BlockDef> blocks_;
};

// Initial data bytes of one parameter: numbers as stored (value x factor,
// truncated, plus offset) in the code's encoding; text padded with spaces.
Bytes encodeInitial(std::string_view type, int length, double storedOrZero,
                    const std::string& text);

} // namespace kx5::sim
