// A window onto one RIFF chunk of a parent stream: finds or creates the
// chunk, reads and writes inside it, and on close patches the size of a
// written chunk and leaves the parent at the end of the chunk.
//
// Chunks are read back to back; after an odd-sized chunk one pad byte is
// skipped when it is 0 (a chunk identifier never starts with a zero byte),
// so files with and without the standard pad byte are both read.
#pragma once

#include "ir/data_stream.h"

namespace kx5 {

using ChunkId = char[4];

class RiffChunkStream final : public DataStream {
  public:
    // The parent is not owned and must outlive the chunk stream.
    explicit RiffChunkStream(DataStream* parent) : parent_(*parent) {}
    ~RiffChunkStream() override { close(); }

    uint32_t size() const override { return chunkSize_; }
    uint32_t position() const override { return position_; }
    bool seek(uint32_t offset) override;
    bool skip(int64_t delta) override;
    uint32_t read(void* buffer, uint32_t count) override;
    uint32_t write(const void* buffer, uint32_t count) override;

    // From the parent's current position, skips other chunks until one with
    // this identifier; only from idle.
    bool find(const ChunkId id);
    // Writes a header with size 0 at the parent's position; only from idle.
    bool create(const ChunkId id);
    // Patches the size of a written chunk; leaves the parent at the chunk's
    // end (after a zero pad byte of an odd-sized chunk that was read).
    void close();

    uint32_t dataStart() const { return dataStart_; }

  private:
    enum class Mode { Idle, Reading, Writing };

    DataStream& parent_;
    Mode mode_ = Mode::Idle;
    uint32_t chunkSize_ = 0;
    uint32_t dataStart_ = 0;
    uint32_t position_ = 0;
};

// Skips the pad byte after an odd-sized chunk when there is one.
void skipZeroPadByte(DataStream& stream);

} // namespace kx5
