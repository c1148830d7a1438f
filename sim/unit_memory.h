// The unit's parameter memory: one byte image per block of the address map.
#pragma once

#include "sim/address_map.h"

#include <string>
#include <vector>

namespace kx5::sim {

class UnitMemory {
  public:
    explicit UnitMemory(const AddressMap& map);

    // Up to size bytes from a linear address, never past the end of the
    // block holding it (nor past a variable block's current end). Empty when
    // the address lies in no block.
    Bytes read(uint32_t address, uint32_t size) const;
    // Stores bytes at a linear address. The part past the block's end is
    // dropped; a write into a variable block ends it where the write ends.
    // Returns the block index written, or -1 when the address is unknown.
    int write(uint32_t address, const Bytes& data);

    const Bytes& block(size_t index) const { return images_[index]; }
    Bytes& block(size_t index) { return images_[index]; }
    const Bytes* block(std::string_view id) const;
    Bytes* block(std::string_view id);
    // Back to the power-up image.
    void reset(size_t index);
    const AddressMap& map() const { return map_; }

    // {"blocks":{"ID":"HEX",...}} with the blocks in address order.
    std::string dumpBlocksJson() const;

  private:
    const AddressMap& map_;
    std::vector<Bytes> images_;
};

} // namespace kx5::sim
