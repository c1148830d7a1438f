// The audio format record exchanged between the audio services: the 18-byte
// WAVE "fmt " layout (tag, channels, rate, bytes per second, block alignment,
// bits per sample, extra size).
#pragma once

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
