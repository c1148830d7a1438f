// Little-endian field access for the file formats.
#pragma once

#include <cstdint>
#include <cstring>

namespace kx5 {

inline uint16_t readLe16(const unsigned char* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t readLe32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline float readLeFloat(const unsigned char* p) {
    const uint32_t bits = readLe32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

inline void writeLe16(unsigned char* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void writeLe32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

inline void writeLeFloat(unsigned char* p, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    writeLe32(p, bits);
}

} // namespace kx5
