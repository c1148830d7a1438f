// Sample-level access to RIFF WAVE files: a reader positioned in the "data"
// chunk and a writer that produces "RIFF"/"WAVE" + 18-byte "fmt " + "data".
#pragma once

#include "audio/files/file_handle.h"
#include "audio/interface/wave_format.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx5 {

class WaveChunkReader {
  public:
    // Reads the format (first 18 bytes of "fmt ", extensible tags replaced by
    // their sub-format) and positions at the start of the "data" chunk.
    bool open(const std::string& path);
    void close() { file_.reset(); }
    const WaveFormat& format() const { return format_; }
    // Bytes of sample data the file really holds (a header may claim more).
    uint64_t dataBytes() const { return dataBytes_; }
    // Up to n bytes of sample data; 0 at the end, -1 on a read error.
    long read(uint8_t* buffer, size_t n);

  private:
    FileHandle file_;
    WaveFormat format_;
    uint64_t dataBytes_ = 0;
    uint64_t dataRead_ = 0;
};

class WaveChunkWriter {
  public:
    WaveChunkWriter() = default;
    ~WaveChunkWriter() { close(); }
    WaveChunkWriter(const WaveChunkWriter&) = delete;
    WaveChunkWriter& operator=(const WaveChunkWriter&) = delete;

    bool create(const std::string& path, const WaveFormat& format);
    // Appends sample data; false when the file can't take it (I/O error or the
    // 4 GiB RIFF limit).
    bool write(const uint8_t* data, size_t n);
    // Writes the chunk sizes (and the pad byte of an odd data chunk) and
    // closes; true when every step succeeded.
    bool close();
    bool isOpen() const { return file_ != nullptr; }
    uint64_t dataBytes() const { return dataBytes_; }

  private:
    FileHandle file_;
    uint64_t dataBytes_ = 0;
    bool failed_ = false;
};

} // namespace kx5
