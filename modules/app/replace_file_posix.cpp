#include "modules/app/replace_file.h"

#include "bridge/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace kx5 {
namespace {

constexpr std::string_view kWriting = ".writing-";
constexpr size_t kSuffixLength = 6;

bool isSuffixCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool endsInSuffix(std::string_view name, size_t at) {
    if (name.size() != at + kSuffixLength) return false;
    for (size_t i = at; i < name.size(); ++i)
        if (!isSuffixCharacter(name[i])) return false;
    return true;
}

std::string randomSuffix() {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 2);
    std::string s(kSuffixLength, 'A');
    for (char& c : s)
        c = alphabet[pick(random)];
    return s;
}

bool writeAllBytes(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

// ".<name>.writing-XXXXXX" -> true.
bool isOurTemporaryName(std::string_view entry) {
    if (entry.size() < 1 + 1 + kWriting.size() + kSuffixLength || entry[0] != '.') return false;
    const size_t at = entry.size() - kSuffixLength - kWriting.size();
    return entry.substr(at, kWriting.size()) == kWriting &&
           endsInSuffix(entry, at + kWriting.size());
}

// "<name>.XXXXXX" where <name> exists in the folder.
bool isEarlierTemporaryName(int folder, std::string_view entry) {
    if (entry.size() < 1 + 1 + kSuffixLength) return false;
    const size_t dot = entry.size() - kSuffixLength - 1;
    if (entry[dot] != '.' || !endsInSuffix(entry, dot + 1)) return false;
    const std::string base(entry.substr(0, dot));
    struct stat st {};
    return fstatat(folder, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

// Our own regular file that no writer holds: removed.
bool removeIfUnheld(int folder, const char* name) {
    UniqueFd fd(openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return false;
    struct stat held {};
    if (fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != geteuid())
        return false;
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
    // The name must still be the file we hold.
    struct stat now {};
    if (fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_ino != held.st_ino ||
        now.st_dev != held.st_dev)
        return false;
    return unlinkat(folder, name, 0) == 0;
}

// A new file in folder, locked, under no name yet where the file system
// allows; otherwise under a temporary name (in temporaryName).
UniqueFd createLocked(const std::string& folder, const std::string& temporary, bool& named) {
    named = false;
    UniqueFd fd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!fd) {
        fd.reset(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        named = bool(fd);
    }
    if (fd && flock(fd.get(), LOCK_EX) != 0) {
        if (named) ::unlink(temporary.c_str());
        return UniqueFd();
    }
    return fd;
}

} // namespace

bool replaceFile(const std::string& path, std::string_view bytes) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        errno = EISDIR;
        return false;
    }
    // A cleaner of another process may take a named temporary file in the
    // moment before it is locked; the write then starts again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string temporary = folder + "." + name + std::string(kWriting) + randomSuffix();
        bool named = false;
        UniqueFd fd = createLocked(folder, temporary, named);
        if (!fd) {
            if (errno == EEXIST) continue;
            return false;
        }
        auto dropName = [&] {
            const int saved = errno;
            ::unlink(temporary.c_str());
            errno = saved;
        };
        if (!writeAllBytes(fd.get(), bytes) || fsync(fd.get()) != 0) {
            if (named) dropName();
            return false;
        }
        if (!named) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) !=
                0) {
                if (errno == EEXIST) continue;
                return false;
            }
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            if (errno == ENOENT) continue;
            dropName();
            return false;
        }
        // The rename itself is made durable with the folder.
        UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir) fsync(dir.get());
        return true;
    }
    errno = EAGAIN;
    return false;
}

size_t removeStaleWrites(const std::string& folder) {
    UniqueFd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dirFd) return 0;
    std::vector<std::string> candidates;
    {
        const int listFd = fcntl(dirFd.get(), F_DUPFD_CLOEXEC, 0);
        if (listFd < 0) return 0;
        std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(listFd), closedir);
        if (!dir) {
            ::close(listFd);
            return 0;
        }
        while (const dirent* e = readdir(dir.get())) {
            const std::string_view name(e->d_name);
            if (isOurTemporaryName(name) || isEarlierTemporaryName(dirFd.get(), name))
                candidates.emplace_back(name);
        }
    }
    size_t removed = 0;
    for (const auto& name : candidates)
        removed += removeIfUnheld(dirFd.get(), name.c_str()) ? 1 : 0;
    return removed;
}

} // namespace kx5
