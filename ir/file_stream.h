// DataStream over a POSIX file descriptor (owned, closed by the destructor).
#pragma once

#include "ir/data_stream.h"

#include <memory>
#include <string>

namespace kx5 {

class FileStream final : public DataStream {
  public:
    // Takes ownership of an open descriptor.
    explicit FileStream(int fd);
    ~FileStream() override;

    // Regular files only; the open never blocks (FIFOs and devices are
    // refused). Null when the file cannot be opened.
    static std::unique_ptr<FileStream> openForReading(const std::string& path);
    // Creates or truncates a regular file for writing (mode 0600).
    static std::unique_ptr<FileStream> createForWriting(const std::string& path);

    uint32_t size() const override { return size_; }
    uint32_t position() const override { return position_; }
    bool seek(uint32_t offset) override;
    bool skip(int64_t delta) override;
    uint32_t read(void* buffer, uint32_t count) override;
    uint32_t write(const void* buffer, uint32_t count) override;

    // True once a read or write reported an error (not end of file).
    bool failed() const { return failed_; }
    // Closes now; false when the close reported an error (lost writes).
    bool close();

  private:
    int fd_;
    bool open_;
    uint32_t size_ = 0;
    uint32_t position_ = 0;
    bool failed_ = false;
};

} // namespace kx5
