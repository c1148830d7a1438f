#include "audio/files/pending_output.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace kx5 {

PendingOutput::PendingOutput(std::string finalPath) : finalPath_(std::move(finalPath)) {
    if (finalPath_.empty() || finalPath_.back() == '/') return;
    const size_t slash = finalPath_.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : finalPath_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? finalPath_ : finalPath_.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char tag[40];
        std::snprintf(tag, sizeof tag, ".%d.%u.%08x.part", static_cast<int>(getpid()),
                      counter.fetch_add(1), random());
        std::string candidate = dir + "." + base + tag;
        // 0666 filtered by the umask, as the final file would be created.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            tempPath_ = std::move(candidate);
            return;
        }
        if (errno != EEXIST) return;
    }
}

PendingOutput::PendingOutput(PendingOutput&& other) noexcept
    : finalPath_(std::move(other.finalPath_)), tempPath_(std::move(other.tempPath_)) {
    other.tempPath_.clear();
}

PendingOutput::~PendingOutput() {
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

bool PendingOutput::commit() {
    if (tempPath_.empty()) return false;
    if (std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) return false;
    tempPath_.clear();
    return true;
}

} // namespace kx5
