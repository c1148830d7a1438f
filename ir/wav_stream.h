// A RIFF WAVE file over any DataStream: the format record, the "data" chunk
// as a stream, and readWavInfo, which describes a file for "wavstat".
#pragma once

#include "audio/interface/wave_format.h"
#include "ir/data_stream.h"
#include "ir/riff_chunk_stream.h"

#include <memory>

namespace kx5 {

class WavStream : public DataStream {
  public:
    // The source is not owned and must outlive the stream.
    explicit WavStream(DataStream& source) : source_(source) {}
    // Closes the data chunk, then the RIFF chunk (patching sizes when writing).
    ~WavStream() override;

    // Passed to the data chunk; 0 or false while there is none.
    uint32_t size() const override;
    uint32_t position() const override;
    bool seek(uint32_t offset) override;
    bool skip(int64_t delta) override;
    uint32_t read(void* buffer, uint32_t count) override;
    uint32_t write(const void* buffer, uint32_t count) override;

    virtual bool openRead();
    virtual bool openWrite(const WaveFormat& format);

    const WaveFormat& format() const { return format_; }
    RiffChunkStream* riffStream() { return riff_.get(); }

  protected:
    virtual bool readExtraChunks(RiffChunkStream& riff);
    virtual bool writeFormatChunk(RiffChunkStream& riff, const WaveFormat& format);
    virtual bool writeFormatExtra(RiffChunkStream& chunk);
    virtual bool writeExtraChunks(RiffChunkStream& riff);

  private:
    DataStream& source_;
    std::unique_ptr<RiffChunkStream> riff_;
    std::unique_ptr<RiffChunkStream> data_;
    WaveFormat format_;
};

struct WavInfo {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t bitsPerSample = 0;
    uint32_t sampleRate = 0;
    // "data" size / block alignment; 0 when the block alignment is 0.
    uint32_t frames = 0;
    // -1 when the file has no usable "acid" chunk; the meter and beat count
    // are meaningful only otherwise.
    float tempo = -1.0f;
    uint16_t meterDenominator = 0;
    uint16_t meterNumerator = 0;
    uint32_t beatCount = 0;
};

bool readWavInfo(DataStream& stream, WavInfo& info);

} // namespace kx5
