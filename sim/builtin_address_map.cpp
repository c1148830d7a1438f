#include "sim/address_map.h"

extern const char kx5AddressMapJson[];
extern const unsigned long kx5AddressMapJson_size;

namespace kx5::sim {

const AddressMap& AddressMap::builtIn() {
    static const AddressMap map =
        parse(std::string_view(kx5AddressMapJson, kx5AddressMapJson_size));
    return map;
}

} // namespace kx5::sim
