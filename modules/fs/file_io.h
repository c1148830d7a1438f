// Low-level helpers shared by the content and copy operations.
#pragma once

#include "bridge/unique_fd.h"

#include <string>
#include <string_view>
#include <utility>

namespace kx5 {

// Writes every byte, retrying short writes; false with errno set on failure.
bool writeAll(int fd, std::string_view bytes);

// Copies the rest of one open file into another; false with errno set.
bool copyData(int from, int to);

// A new hidden file next to a target, removed again unless released.
class TemporaryFile {
  public:
    // Mode 0666 less the umask, like any new file; check with operator bool
    // (errno tells why it could not be made).
    static TemporaryFile createBeside(const std::string& target);
    ~TemporaryFile();
    TemporaryFile(TemporaryFile&& other) noexcept
        : fd_(std::move(other.fd_)), path_(std::exchange(other.path_, {})) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    explicit operator bool() const { return bool(fd_); }
    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    bool closeFile() { return fd_.close(); }
    // The file now lives on under another name: nothing to remove.
    void release() { path_.clear(); }
    // Removes the file and throws the error that errno holds.
    [[noreturn]] void fail();

  private:
    TemporaryFile() = default;
    UniqueFd fd_;
    std::string path_;
};

} // namespace kx5
