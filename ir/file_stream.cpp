#include "ir/file_stream.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace kx5 {
namespace {

constexpr uint64_t kMaxOffset = std::numeric_limits<uint32_t>::max();

uint32_t clampedSize(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < 0) return 0;
    return uint64_t(st.st_size) > kMaxOffset ? uint32_t(kMaxOffset) : uint32_t(st.st_size);
}

} // namespace

FileStream::FileStream(int fd) : fd_(fd), open_(fd >= 0) {
    if (open_) size_ = clampedSize(fd_);
}

FileStream::~FileStream() {
    close();
}

bool FileStream::close() {
    if (!open_) return true;
    open_ = false;
    return ::close(fd_) == 0;
}

std::unique_ptr<FileStream> FileStream::openForReading(const std::string& path) {
    // O_NONBLOCK keeps a FIFO from blocking the caller; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return std::make_unique<FileStream>(fd);
}

std::unique_ptr<FileStream> FileStream::createForWriting(const std::string& path) {
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileStream>(fd);
}

bool FileStream::seek(uint32_t offset) {
    if (!open_) return false;
    if (lseek(fd_, off_t(offset), SEEK_SET) < 0) return false;
    position_ = offset;
    return true;
}

bool FileStream::skip(int64_t delta) {
    const int64_t target = int64_t(position_) + delta;
    if (target < 0 || uint64_t(target) > kMaxOffset) return false;
    return seek(uint32_t(target));
}

uint32_t FileStream::read(void* buffer, uint32_t count) {
    if (!open_) return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd_, out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed_ = true;
        if (n <= 0) break;
        done += uint32_t(n);
    }
    const uint64_t end = uint64_t(position_) + done;
    position_ = end > kMaxOffset ? uint32_t(kMaxOffset) : uint32_t(end);
    return done;
}

uint32_t FileStream::write(const void* buffer, uint32_t count) {
    if (!open_) return 0;
    const auto* in = static_cast<const unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, in + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed_ = true;
            break;
        }
        done += uint32_t(n);
    }
    const uint64_t end = uint64_t(position_) + done;
    position_ = end > kMaxOffset ? uint32_t(kMaxOffset) : uint32_t(end);
    if (position_ > size_) size_ = position_;
    return done;
}

} // namespace kx5
