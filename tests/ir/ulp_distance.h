// Distance in units in the last place between two floats.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kx5::test {

inline int64_t orderedBits(float f) {
    int32_t i;
    std::memcpy(&i, &f, 4);
    return i < 0 ? int64_t(INT32_MIN) - i : int64_t(i);
}

inline int64_t ulpDistance(float a, float b) {
    return std::llabs(orderedBits(a) - orderedBits(b));
}

} // namespace kx5::test
