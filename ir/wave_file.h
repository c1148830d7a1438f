// Reads the samples of a RIFF WAVE file as doubles for the conversion.
// Accepts integer PCM (8, 16, 24, 32 bits) and 32-bit float, mono or stereo.
#pragma once

#include "ir/file_stream.h"
#include "ir/riff_chunk_stream.h"
#include "ir/wav_stream.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kx5 {

class CWaveFile {
  public:
    enum class OpenResult { Opened, NotFound, Unsupported };

    CWaveFile() = default;
    virtual ~CWaveFile();
    CWaveFile(const CWaveFile&) = delete;
    CWaveFile& operator=(const CWaveFile&) = delete;

    // An empty name is "not found"; a file that cannot be opened or is not a
    // supported WAVE file is "unsupported".
    OpenResult open(const std::string& fileName);
    // Reads up to count samples (interleaved as stored) from the current
    // position of the "data" chunk, never past its end. Returns the number
    // of whole samples read; 0 for an unsupported sample format, and 0 after
    // a read error (which also closes the file).
    uint32_t readSamples(double* buffer, uint32_t count);
    void close();

    // Bytes of one stored sample; 0 when the format cannot be converted.
    uint32_t bytesPerSample() const;
    // Bytes of the "data" chunk that the file really holds.
    uint64_t dataBytesPresent() const;
    // The "data" chunk's size as its header gives it.
    uint32_t dataSize() const;

    uint16_t channels() const { return channels_; }
    uint32_t bitsPerSample() const { return bitsPerSample_; }
    uint32_t sampleRate() const { return sampleRate_; }
    // "data" size / block alignment; 0 when the block alignment is 0.
    uint32_t frames() const { return frames_; }
    uint32_t formatTag() const { return formatTag_; }
    const std::string& fileName() const { return fileName_; }

  private:
    std::unique_ptr<FileStream> file_;
    std::unique_ptr<RiffChunkStream> riff_;
    std::unique_ptr<RiffChunkStream> data_;
    std::string fileName_;
    unsigned char format_[18] = {};
    uint16_t channels_ = 0;
    uint32_t bitsPerSample_ = 0;
    uint32_t sampleRate_ = 0;
    uint32_t frames_ = 0;
    uint32_t formatTag_ = 0;
};

} // namespace kx5
