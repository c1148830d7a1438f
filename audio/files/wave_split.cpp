#include "audio/files/audio_file_ops.h"
#include "audio/files/pending_output.h"
#include "audio/files/wave_input.h"

#include <cstring>
#include <unistd.h>
#include <vector>

namespace kx5 {

bool splitWave(const std::string& input, const std::vector<std::string>& outputs,
               const std::string& tempFolder) {
    const size_t n = outputs.size();
    WaveFormat probe;
    if (n == 0 || !readAudioFormat(input, probe)) return false;
    size_t k = probe.channels / n;
    if (k == 0) return false;
    if (k > 2) k = 2;

    WaveInput source;
    if (!source.open(input, tempFolder)) return false;
    const WaveFormat& in = source.format();
    if (in.channels / n == 0) return false;
    const size_t sampleBytes = static_cast<size_t>(source.sampleBytes());
    const size_t inFrame = in.blockAlign;
    const size_t outFrame = k * sampleBytes;
    WaveFormat outFormat = in;
    outFormat.channels = static_cast<uint16_t>(k);
    outFormat.blockAlign = static_cast<uint16_t>(outFrame);
    outFormat.avgBytesPerSec = outFormat.blockAlign * in.sampleRate;

    std::vector<PendingOutput> pending;
    std::vector<WaveChunkWriter> writers(n);
    pending.reserve(n);
    for (size_t j = 0; j < n; ++j) {
        pending.emplace_back(outputs[j]);
        if (pending[j].path().empty() || !writers[j].create(pending[j].path(), outFormat))
            return false;
    }

    std::vector<uint8_t> block(inFrame * kWaveBlockFrames);
    std::vector<uint8_t> gathered(outFrame * kWaveBlockFrames);
    for (;;) {
        const long got = source.reader().read(block.data(), block.size());
        if (got < 0) return false;
        const size_t frames = static_cast<size_t>(got) / inFrame;
        if (frames == 0) break;
        for (size_t j = 0; j < n; ++j) {
            const uint8_t* src = block.data() + j * k * sampleBytes;
            for (size_t f = 0; f < frames; ++f)
                std::memcpy(gathered.data() + f * outFrame, src + f * inFrame, outFrame);
            if (!writers[j].write(gathered.data(), frames * outFrame)) return false;
        }
    }
    for (auto& w : writers)
        if (!w.close()) return false;
    for (size_t j = 0; j < n; ++j) {
        if (!pending[j].commit()) {
            for (size_t i = 0; i < j; ++i)
                ::unlink(outputs[i].c_str());
            return false;
        }
    }
    return true;
}

} // namespace kx5
