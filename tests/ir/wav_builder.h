// Builds RIFF WAVE files byte by byte for the reader tests: any format
// record, extra chunks in any order, pad bytes, truncation.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kx5::test {

using Bytes = std::vector<unsigned char>;

inline void putLe(Bytes& b, uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

inline Bytes chunk(const char id[4], const Bytes& data, bool pad = false) {
    Bytes b(id, id + 4);
    putLe(b, data.size(), 4);
    b.insert(b.end(), data.begin(), data.end());
    if (pad && data.size() % 2 != 0) b.push_back(0);
    return b;
}

struct FormatRecord {
    uint16_t tag = 1;
    uint16_t channels = 1;
    uint32_t rate = 48000;
    uint16_t bits = 16;
    int blockAlign = -1; // -1: channels * bytes per sample
    int extraBytes = -1; // -1: 16-byte record; otherwise 18 + extraBytes with cbSize

    uint16_t align() const {
        return blockAlign >= 0 ? uint16_t(blockAlign) : uint16_t(channels * ((bits + 7) / 8));
    }
    Bytes bytes() const {
        Bytes b;
        putLe(b, tag, 2);
        putLe(b, channels, 2);
        putLe(b, rate, 4);
        putLe(b, uint64_t(rate) * align(), 4);
        putLe(b, align(), 2);
        putLe(b, bits, 2);
        if (extraBytes >= 0) {
            putLe(b, uint16_t(extraBytes), 2);
            b.insert(b.end(), size_t(extraBytes), 0x11);
        }
        return b;
    }
};

inline Bytes acidChunkData(float tempo, uint16_t denominator, uint16_t numerator, uint32_t beats) {
    Bytes b;
    putLe(b, 0, 4);
    putLe(b, 60, 2);
    putLe(b, 0x8000, 2);
    putLe(b, 0, 4);
    putLe(b, beats, 4);
    putLe(b, denominator, 2);
    putLe(b, numerator, 2);
    uint32_t bits;
    std::memcpy(&bits, &tempo, 4);
    putLe(b, bits, 4);
    return b;
}

// Samples in [-1, 1] encoded in the record's format (PCM 8/16/24/32, float).
inline Bytes encodeSamples(const FormatRecord& f, const std::vector<double>& samples) {
    Bytes b;
    for (double v : samples) {
        if (f.tag == 3) {
            const float x = float(v);
            uint32_t bits;
            std::memcpy(&bits, &x, 4);
            putLe(b, bits, 4);
            continue;
        }
        const int bits = f.bits;
        const double scale = double(int64_t(1) << (bits - 1));
        int64_t q = int64_t(std::llround(v * scale));
        q = std::max<int64_t>(-int64_t(scale), std::min<int64_t>(int64_t(scale) - 1, q));
        if (bits == 8) q += 128;
        putLe(b, uint64_t(q), bits / 8);
    }
    return b;
}

// "RIFF" <size> "WAVE" followed by the given chunks.
inline Bytes riffWave(const std::vector<Bytes>& chunks) {
    Bytes body{'W', 'A', 'V', 'E'};
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    return chunk("RIFF", body);
}

inline Bytes simpleWave(const FormatRecord& f, const std::vector<double>& samples) {
    return riffWave({chunk("fmt ", f.bytes()), chunk("data", encodeSamples(f, samples))});
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace kx5::test
