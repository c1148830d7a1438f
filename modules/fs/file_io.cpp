#include "modules/fs/file_io.h"

#include "bridge/native_call.h"
#include "modules/fs/path_text.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace kx5 {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

bool copyData(int from, int to) {
    // In-kernel copy first (keeps holes and can share extents); plain reads
    // and writes where the file systems do not support it.
    bool kernelCopy = true;
    while (kernelCopy) {
        const ssize_t n = copy_file_range(from, nullptr, to, nullptr, size_t(1) << 30, 0);
        if (n > 0) continue;
        if (n == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EBADF)
            return false;
        kernelCopy = false;
    }
    std::string buffer(size_t(1) << 20, '\0');
    for (;;) {
        const ssize_t n = read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!writeAll(to, std::string_view(buffer.data(), size_t(n)))) return false;
    }
}

TemporaryFile TemporaryFile::createBeside(const std::string& target) {
    static constexpr char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<size_t> pick(0, sizeof letters - 2);

    const std::string folder = parentFolder(target);
    // Short enough for any name limit, recognisable as belonging to the target.
    const std::string stem = "." + lastComponent(target).substr(0, 200) + ".";
    TemporaryFile temp;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(8, ' ');
        for (char& c : suffix)
            c = letters[pick(random)];
        const std::string path = withTrailingSlash(folder) + stem + suffix;
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            temp.fd_.reset(fd);
            temp.path_ = path;
            return temp;
        }
        if (errno != EEXIST) return temp;
    }
    return temp;
}

TemporaryFile::~TemporaryFile() {
    if (!path_.empty()) unlink(path_.c_str());
}

void TemporaryFile::fail() {
    const int error = errno;
    fd_.reset();
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
    throw NativeException(error);
}

} // namespace kx5
