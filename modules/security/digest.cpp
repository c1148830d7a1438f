#include "modules/security/digest.h"

#include "modules/security/openssl_handles.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace kx5::security {
namespace {

// Closes the descriptor when the digest is done.
class ReadOnlyFile {
  public:
    explicit ReadOnlyFile(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~ReadOnlyFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

class Md5 {
  public:
    Md5() : ctx_(EVP_MD_CTX_new()) {
        ok_ = ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_md5(), nullptr) == 1;
    }
    void update(const void* data, size_t size) {
        ok_ = ok_ && EVP_DigestUpdate(ctx_.get(), data, size) == 1;
    }
    std::optional<Bytes> finish() {
        std::array<unsigned char, EVP_MAX_MD_SIZE> out{};
        unsigned int size = 0;
        if (!ok_ || EVP_DigestFinal_ex(ctx_.get(), out.data(), &size) != 1 || size != kMd5Size)
            return std::nullopt;
        return Bytes(reinterpret_cast<const char*>(out.data()), size);
    }

  private:
    DigestContext ctx_;
    bool ok_ = false;
};

} // namespace

std::optional<Bytes> md5(std::initializer_list<std::string_view> pieces) {
    Md5 digest;
    for (std::string_view piece : pieces)
        digest.update(piece.data(), piece.size());
    return digest.finish();
}

std::optional<Bytes> md5OfFile(const std::string& path) {
    ReadOnlyFile file(path);
    if (file.fd() < 0) return std::nullopt;
    Md5 digest;
    // Read in pieces: a large file need not fit in memory to be digested.
    std::array<char, 64 * 1024> buffer;
    for (;;) {
        const ssize_t n = ::read(file.fd(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        digest.update(buffer.data(), static_cast<size_t>(n));
    }
    return digest.finish();
}

} // namespace kx5::security
