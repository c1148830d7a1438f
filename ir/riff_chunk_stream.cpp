#include "ir/riff_chunk_stream.h"

#include "ir/byte_order.h"

#include <cstring>

namespace kx5 {

void skipZeroPadByte(DataStream& stream) {
    unsigned char pad = 0;
    if (stream.read(&pad, 1) == 1 && pad != 0) stream.skip(-1);
}

bool RiffChunkStream::seek(uint32_t offset) {
    if (offset > chunkSize_) return false;
    if (uint64_t(dataStart_) + offset > UINT32_MAX) return false;
    if (!parent_.seek(dataStart_ + offset)) return false;
    position_ = offset;
    return true;
}

bool RiffChunkStream::skip(int64_t delta) {
    const int64_t target = int64_t(position_) + delta;
    if (target < 0 || target > int64_t(UINT32_MAX)) return false;
    return seek(uint32_t(target));
}

uint32_t RiffChunkStream::read(void* buffer, uint32_t count) {
    const uint32_t left = chunkSize_ > position_ ? chunkSize_ - position_ : 0;
    if (count > left) count = left;
    const uint32_t n = parent_.read(buffer, count);
    position_ += n;
    return n;
}

uint32_t RiffChunkStream::write(const void* buffer, uint32_t count) {
    const uint32_t n = parent_.write(buffer, count);
    const uint64_t end = uint64_t(position_) + n;
    position_ = end > UINT32_MAX ? UINT32_MAX : uint32_t(end);
    if (position_ > chunkSize_) chunkSize_ = position_;
    return n;
}

bool RiffChunkStream::find(const ChunkId id) {
    if (mode_ != Mode::Idle) return false;
    for (;;) {
        unsigned char header[8];
        if (parent_.read(header, 8) < 8) return false;
        const uint32_t size = readLe32(header + 4);
        if (std::memcmp(header, id, 4) == 0) {
            mode_ = Mode::Reading;
            dataStart_ = parent_.position();
            chunkSize_ = size;
            position_ = 0;
            return true;
        }
        if (!parent_.skip(size)) return false;
        if (size % 2 != 0) skipZeroPadByte(parent_);
    }
}

bool RiffChunkStream::create(const ChunkId id) {
    if (mode_ != Mode::Idle) return false;
    mode_ = Mode::Writing;
    unsigned char header[8];
    std::memcpy(header, id, 4);
    writeLe32(header + 4, 0);
    chunkSize_ = 0;
    position_ = 0;
    if (parent_.write(header, 8) != 8) {
        dataStart_ = parent_.position();
        return false;
    }
    dataStart_ = parent_.position();
    return true;
}

void RiffChunkStream::close() {
    if (mode_ == Mode::Writing && dataStart_ >= 4 && parent_.seek(dataStart_ - 4)) {
        unsigned char size[4];
        writeLe32(size, chunkSize_);
        parent_.write(size, 4);
    }
    if (mode_ != Mode::Idle) {
        const uint64_t end = uint64_t(dataStart_) + chunkSize_;
        if (end <= UINT32_MAX && parent_.seek(uint32_t(end)) && mode_ == Mode::Reading &&
            chunkSize_ % 2 != 0)
            skipZeroPadByte(parent_);
    }
    mode_ = Mode::Idle;
    chunkSize_ = dataStart_ = position_ = 0;
}

} // namespace kx5
