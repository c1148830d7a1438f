// Opens the input of a sample-level operation as PCM or float WAVE data,
// going through a temporary 16-bit PCM WAVE for anything else.
#pragma once

#include "audio/files/temp_file.h"
#include "audio/files/wave_chunk_file.h"

#include <memory>
#include <string>

namespace kx5 {

class WaveInput {
  public:
    bool open(const std::string& path, const std::string& tempFolder);
    WaveChunkReader& reader() { return reader_; }
    const WaveFormat& format() const { return reader_.format(); }
    // Bytes per sample of one channel.
    int sampleBytes() const { return format().blockAlign / format().channels; }

  private:
    std::unique_ptr<TempFile> temp_;
    WaveChunkReader reader_;
};

// Frames per read of the sample-level operations.
constexpr size_t kWaveBlockFrames = 16384;

} // namespace kx5
