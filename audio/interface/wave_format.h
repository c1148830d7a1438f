// The WAVE format record shared by the WAVE readers and writers and the
// audio services: the fields of the "fmt " chunk (tag, channels, rate, bytes
// per second, block alignment, bits per sample), and their 16-byte
// little-endian layout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx5 {

enum WaveFormatTag : uint16_t {
    kWaveTagNone = 0,
    kWaveTagPcm = 1,
    kWaveTagFloat = 3,
    kWaveTagMp3 = 0x0055,
    kWaveTagAac = 0x1610,
    kWaveTagExtensible = 0xFFFE,
};

struct WaveFormat {
    uint16_t tag = kWaveTagNone;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;

    bool isPcmOrFloat() const { return tag == kWaveTagPcm || tag == kWaveTagFloat; }

    // The record's bytes at the start of a "fmt " chunk.
    static constexpr size_t kRecordBytes = 16;
    static WaveFormat decode(const uint8_t* b) {
        const auto u16 = [b](int i) { return static_cast<uint16_t>(b[i] | b[i + 1] << 8); };
        const auto u32 = [&u16](int i) { return u16(i) | static_cast<uint32_t>(u16(i + 2)) << 16; };
        WaveFormat f;
        f.tag = u16(0);
        f.channels = u16(2);
        f.sampleRate = u32(4);
        f.avgBytesPerSec = u32(8);
        f.blockAlign = u16(12);
        f.bitsPerSample = u16(14);
        return f;
    }
    void encode(uint8_t* b) const {
        const auto put = [b](int i, uint32_t v, int bytes) {
            for (int k = 0; k < bytes; ++k)
                b[i + k] = static_cast<uint8_t>(v >> (8 * k));
        };
        put(0, tag, 2);
        put(2, channels, 2);
        put(4, sampleRate, 4);
        put(8, avgBytesPerSec, 4);
        put(12, blockAlign, 2);
        put(14, bitsPerSample, 2);
    }

    // Uncompressed layout with block alignment and byte rate derived.
    static WaveFormat uncompressed(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
        WaveFormat f;
        f.tag = tag;
        f.channels = channels;
        f.sampleRate = rate;
        f.bitsPerSample = bits;
        f.blockAlign = static_cast<uint16_t>(bits / 8 * channels);
        f.avgBytesPerSec = f.blockAlign * rate;
        return f;
    }
};

// The format the wave units move: 16-bit stereo PCM at 44,100 Hz.
inline WaveFormat unitWaveFormat() {
    return WaveFormat::uncompressed(kWaveTagPcm, 2, 44100, 16);
}

} // namespace kx5
