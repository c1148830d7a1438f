#include "modules/security/master_key_file.h"

#include "bridge/app_paths.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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
    if (folder.empty()) return {KeyFileStatus::Unusable, std::nullopt, "there is no folder for it"};
    const auto unusable = [](std::string problem) {
        return KeyFileResult{KeyFileStatus::Unusable, std::nullopt, std::move(problem)};
    };
    FileDescriptor fd(
        ::open(keyPath(folder).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) return {KeyFileStatus::Missing, std::nullopt, {}};
        if (errno == ELOOP) return unusable("it is a symbolic link");
        return unusable(std::string("it cannot be opened: ") + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return unusable(std::string("it cannot be read: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return unusable("it is not a file");
    if (st.st_uid != ::geteuid()) return unusable("it belongs to another user");
    if (st.st_size != static_cast<off_t>(kMasterKeySize))
        return unusable("it holds " + std::to_string(st.st_size) + " bytes, not " +
                        std::to_string(kMasterKeySize));
    if ((st.st_mode & 0077) != 0 && ::fchmod(fd.get(), 0600) != 0)
        return unusable(std::string("others may read it and it cannot be made private: ") +
                        std::strerror(errno));
    MasterKey key;
    if (!readFully(fd.get(), key.data(), kMasterKeySize))
        return unusable(std::string("it cannot be read: ") + std::strerror(errno));
    return {KeyFileStatus::Loaded, key, {}};
}

KeyFileResult loadOrCreateMasterKey(const std::string& folder) {
    KeyFileResult existing = readMasterKey(folder);
    if (existing.status != KeyFileStatus::Missing) return existing;
    const KeyFileResult failed{KeyFileStatus::Missing, std::nullopt, {}};
    if (!ensureFolder(folder)) return failed;

    MasterKey key;
    if (RAND_bytes(key.data(), static_cast<int>(kMasterKeySize)) != 1) return failed;
    std::string pattern = folder + "." + kMasterKeyFileName + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkostemp creates the file with mode 0600.
    FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.get() < 0) return failed;
    TemporaryPath temporary(name.data());
    if (!writeFully(fd.get(), key.data(), kMasterKeySize) || ::fsync(fd.get()) != 0 || !fd.close())
        return failed;
    if (::link(temporary.path().c_str(), keyPath(folder).c_str()) == 0)
        return {KeyFileStatus::Loaded, key, {}};
    // Another process created the key first: use that one.
    if (errno == EEXIST) return readMasterKey(folder);
    return failed;
}

} // namespace kx5::security
