// Abstract seekable byte stream the RIFF readers and writers work on.
#pragma once

#include <cstdint>

namespace kx5 {

class DataStream {
  public:
    DataStream() = default;
    virtual ~DataStream() = default;
    DataStream(const DataStream&) = delete;
    DataStream& operator=(const DataStream&) = delete;

    virtual uint32_t size() const = 0;
    virtual uint32_t position() const = 0;
    // Absolute positioning.
    virtual bool seek(uint32_t offset) = 0;
    // Relative positioning; 64-bit so that a 32-bit chunk size always moves
    // forward.
    virtual bool skip(int64_t delta) = 0;
    // Number of bytes read or written.
    virtual uint32_t read(void* buffer, uint32_t count) = 0;
    virtual uint32_t write(const void* buffer, uint32_t count) = 0;
};

} // namespace kx5
