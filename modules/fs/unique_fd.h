// Owning wrappers for a file descriptor and a directory stream.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <utility>

namespace kx5 {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now and reports the result (a write may surface its error here).
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

  private:
    int fd_;
};

class UniqueDir {
  public:
    explicit UniqueDir(DIR* dir = nullptr) : dir_(dir) {}
    ~UniqueDir() {
        if (dir_) ::closedir(dir_);
    }
    UniqueDir(const UniqueDir&) = delete;
    UniqueDir& operator=(const UniqueDir&) = delete;
    DIR* get() const { return dir_; }
    explicit operator bool() const { return dir_ != nullptr; }

  private:
    DIR* dir_;
};

} // namespace kx5
