#include "sim/unit_memory.h"

#include <picojson.h>

#include <algorithm>

namespace kx5::sim {

UnitMemory::UnitMemory(const AddressMap& map) : map_(map) {
    for (const auto& b : map.blocks())
        images_.push_back(b.initial);
}

Bytes UnitMemory::read(uint32_t address, uint32_t size) const {
    const auto index = map_.locate(address);
    if (!index) return {};
    const Bytes& image = images_[*index];
    const size_t offset = address - map_.blocks()[*index].address;
    if (offset >= image.size()) return {};
    const size_t n = std::min<size_t>(size, image.size() - offset);
    return Bytes(image.begin() + static_cast<long>(offset),
                 image.begin() + static_cast<long>(offset + n));
}

int UnitMemory::write(uint32_t address, const Bytes& data) {
    const auto index = map_.locate(address);
    if (!index) return -1;
    const BlockDef& def = map_.blocks()[*index];
    Bytes& image = images_[*index];
    const size_t offset = address - def.address;
    const size_t n = std::min<size_t>(data.size(), def.size - offset);
    if (def.variable) {
        image.resize(offset, 0);
        image.insert(image.end(), data.begin(), data.begin() + static_cast<long>(n));
    } else {
        std::copy(data.begin(), data.begin() + static_cast<long>(n),
                  image.begin() + static_cast<long>(offset));
    }
    return static_cast<int>(*index);
}

const Bytes* UnitMemory::block(std::string_view id) const {
    for (size_t i = 0; i < images_.size(); ++i)
        if (map_.blocks()[i].id == id) return &images_[i];
    return nullptr;
}

Bytes* UnitMemory::block(std::string_view id) {
    return const_cast<Bytes*>(static_cast<const UnitMemory*>(this)->block(id));
}

void UnitMemory::reset(size_t index) {
    images_[index] = map_.blocks()[index].initial;
}

std::string UnitMemory::dumpBlocksJson() const {
    picojson::object blocks;
    for (size_t i = 0; i < images_.size(); ++i)
        blocks[map_.blocks()[i].id] = picojson::value(hexText(images_[i]));
    return picojson::value(blocks).serialize();
}

} // namespace kx5::sim
