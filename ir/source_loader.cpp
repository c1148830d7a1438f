#include "ir/source_loader.h"

#include "ir/wave_file.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace kx5 {

using conversion::kBufferLength;

bool conversionTakes(const CWaveFile& wave) {
    const uint64_t samples = uint64_t(wave.frames()) * wave.channels();
    const uint32_t rate = wave.sampleRate();
    // Every announced sample must be present, as a full read would require.
    if (wave.bytesPerSample() == 0 || samples == 0 ||
        samples * wave.bytesPerSample() > wave.dataBytesPresent())
        return false;
    return rate != 0 && rate <= uint32_t(std::numeric_limits<int32_t>::max());
}

LoadResult loadConversionSource(const std::string& path, int channel, ConversionState& s) {
    CWaveFile wave;
    switch (wave.open(path)) {
    case CWaveFile::OpenResult::NotFound:
        return LoadResult::NotFound;
    case CWaveFile::OpenResult::Unsupported:
        return LoadResult::Unsupported;
    case CWaveFile::OpenResult::Opened:
        break;
    }
    if (!conversionTakes(wave)) return LoadResult::Unsupported;
    const uint32_t channels = wave.channels();
    const uint64_t frames = wave.frames();
    const uint32_t rate = wave.sampleRate();

    const uint32_t offset = (channels == 2 && channel == 1) ? 1 : 0;
    constexpr uint32_t kBlockFrames = 4096;
    std::vector<double> block(size_t(kBlockFrames) * channels);
    uint64_t skipped = 0, used = 0, limit = 0, read = 0;
    bool audible = false;
    while (read < frames && (!audible || used < limit)) {
        const uint32_t want = uint32_t(std::min<uint64_t>(kBlockFrames, frames - read));
        if (wave.readSamples(block.data(), want * channels) != want * channels)
            return LoadResult::Unsupported;
        read += want;
        for (uint32_t f = 0; f < want; ++f) {
            const double* frame = block.data() + size_t(f) * channels;
            if (!audible) {
                if (std::fabs(frame[0]) < conversion::kSilence) {
                    ++skipped;
                    continue;
                }
                audible = true;
                const uint64_t remaining = frames - skipped;
                const uint64_t cap = uint64_t(std::trunc(double(rate) * 48000.0 / 96000.0 + 0.5));
                limit = std::min<uint64_t>({remaining, cap, uint64_t(kBufferLength)});
            }
            if (used == limit) break;
            const double v = frame[offset];
            if (!std::isfinite(v)) return LoadResult::Unsupported;
            s.source[size_t(used++)] = v;
        }
    }
    if (!audible || used == 0) return LoadResult::Unsupported;

    const double lead = std::trunc(double(skipped) * 96000.0 / double(rate));
    s.leadSilence = int32_t(std::min(lead, double(std::numeric_limits<int32_t>::max())));
    s.sourceChannels = int32_t(channels);
    s.sourceRate = int32_t(rate);
    s.sourceFrames = int32_t(used);
    // Nothing to resample: too few frames for the rate.
    if (rate != 96000 && std::trunc(96000.0 / double(rate) * double(used) + 0.5) <= 0.0)
        return LoadResult::Unsupported;
    return LoadResult::Loaded;
}

} // namespace kx5
