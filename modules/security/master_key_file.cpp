#include "modules/security/master_key_file.h"

#include "bridge/app_paths.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace kx5::security {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

// Removes the temporary file unless it was handed over.
class TemporaryPath {
  public:
    explicit TemporaryPath(std::string path) : path_(std::move(path)) {}
    ~TemporaryPath() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TemporaryPath(const TemporaryPath&) = delete;
    TemporaryPath& operator=(const TemporaryPath&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

bool readFully(int fd, unsigned char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool writeFully(int fd, const unsigned char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string keyPath(const std::string& folder) {
    return folder + kMasterKeyFileName;
}

} // namespace

MasterKey::~MasterKey() {
    OPENSSL_cleanse(bytes_.data(), bytes_.size());
}

KeyFileResult readMasterKey(const std::string& folder) {
    if (folder.empty()) return {KeyFileStatus::Unusable, std::nullopt};
    FileDescriptor fd(::open(keyPath(folder).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        return {errno == ENOENT ? KeyFileStatus::Missing : KeyFileStatus::Unusable, std::nullopt};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_size != static_cast<off_t>(kMasterKeySize))
        return {KeyFileStatus::Unusable, std::nullopt};
    if ((st.st_mode & 0077) != 0 && ::fchmod(fd.get(), 0600) != 0)
        return {KeyFileStatus::Unusable, std::nullopt};
    MasterKey key;
    if (!readFully(fd.get(), key.data(), kMasterKeySize))
        return {KeyFileStatus::Unusable, std::nullopt};
    return {KeyFileStatus::Loaded, key};
}

std::optional<MasterKey> loadOrCreateMasterKey(const std::string& folder) {
    KeyFileResult existing = readMasterKey(folder);
    if (existing.status != KeyFileStatus::Missing) return existing.key;
    if (!ensureFolder(folder)) return std::nullopt;

    MasterKey key;
    if (RAND_bytes(key.data(), static_cast<int>(kMasterKeySize)) != 1) return std::nullopt;
    std::string pattern = folder + "." + kMasterKeyFileName + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkostemp creates the file with mode 0600.
    FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    TemporaryPath temporary(name.data());
    if (!writeFully(fd.get(), key.data(), kMasterKeySize) || ::fsync(fd.get()) != 0 || !fd.close())
        return std::nullopt;
    if (::link(temporary.path().c_str(), keyPath(folder).c_str()) == 0) return key;
    // Another process created the key first: use that one.
    if (errno == EEXIST) return readMasterKey(folder).key;
    return std::nullopt;
}

} // namespace kx5::security
