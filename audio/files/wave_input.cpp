#include "audio/files/wave_input.h"

#include "audio/engines/audio_file_reader.h"
#include "audio/files/audio_file_ops.h"

namespace kx5 {

bool WaveInput::open(const std::string& path, const std::string& tempFolder) {
    auto probe = AudioFileReader::open(path);
    if (!probe) return false;
    const WaveFormat source = probe->sourceFormat();
    const bool direct = probe->isWaveFile() && source.isPcmOrFloat();
    probe.reset();
    std::string wavePath = path;
    if (!direct) {
        temp_ = std::make_unique<TempFile>(tempFolder, ".wav");
        if (!temp_->valid()) return false;
        const WaveFormat pcm =
            WaveFormat::uncompressed(kWaveTagPcm, source.channels, source.sampleRate, 16);
        if (!transcodeAudio(path, temp_->path(), pcm)) return false;
        wavePath = temp_->path();
    }
    if (!reader_.open(wavePath)) return false;
    const WaveFormat& f = reader_.format();
    // Frames must be whole samples of equal size per channel.
    return f.blockAlign % f.channels == 0 && f.blockAlign / f.channels > 0;
}

} // namespace kx5
