#include "modules/fs/file_operations.h"

#include "bridge/native_call.h"
#include "bridge/unique_fd.h"
#include "modules/fs/file_io.h"
#include "modules/fs/path_text.h"
#include "modules/fs/unique_dir.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kx5 {
namespace {

bool isFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Empties an open folder; links inside are removed, not followed.
void removeContents(int dirfd) {
    std::vector<std::string> names;
    {
        UniqueDir dir(fdopendir(dup(dirfd)));
        if (!dir) throw NativeException();
        errno = 0;
        while (const dirent* e = readdir(dir.get())) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        if (errno != 0) throw NativeException();
    }
    for (const auto& name : names) {
        struct stat st {};
        if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            throw NativeException();
        }
        if (S_ISDIR(st.st_mode)) {
            UniqueFd sub(
                openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!sub) throw NativeException();
            removeContents(sub.get());
            if (unlinkat(dirfd, name.c_str(), AT_REMOVEDIR) != 0) throw NativeException();
        } else if (unlinkat(dirfd, name.c_str(), 0) != 0 && errno != ENOENT) {
            throw NativeException();
        }
    }
}

} // namespace

void makeFolders(const std::string& path) {
    if (path.empty()) throw NativeException(ENOENT);
    const std::string full = withoutTrailingSlashes(path);
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = full.find('/', pos + 1);
        const std::string partial = full.substr(0, pos);
        if (mkdir(partial.c_str(), 0777) == 0) continue;
        if (errno != EEXIST) throw NativeException();
        if (!isFolder(partial)) throw NativeException(pos == std::string::npos ? EEXIST : ENOTDIR);
    }
}

void removePath(const std::string& path) {
    if (path.empty()) throw NativeException(ENOENT);
    const std::string target = withoutTrailingSlashes(path);
    if (target == "/") throw NativeException(EBUSY);
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0) throw NativeException();
    if (!S_ISDIR(st.st_mode)) {
        if (unlink(target.c_str()) != 0) throw NativeException();
        return;
    }
    UniqueFd dir(open(target.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir) throw NativeException();
    removeContents(dir.get());
    if (rmdir(target.c_str()) != 0) throw NativeException();
}

int tryCopyFile(const std::string& source, const std::string& target) {
    UniqueFd from(open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!from) return errno;
    struct stat st {};
    if (fstat(from.get(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;

    // O_EXCL: an existing target (even a dangling link) is never touched.
    UniqueFd to(open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                     st.st_mode & 0777));
    if (!to) return errno;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    const bool copied =
        copyData(from.get(), to.get()) && futimens(to.get(), times) == 0 && to.close();
    if (copied) return 0;
    const int error = errno;
    to.reset();
    unlink(target.c_str());
    return error;
}

void copyFile(const std::string& source, const std::string& target) {
    if (const int error = tryCopyFile(source, target); error != 0) throw NativeException(error);
}

void movePath(const std::string& source, const std::string& target) {
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return;
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        // File systems without an exclusive rename: check, then rename.
        struct stat st {};
        if (lstat(target.c_str(), &st) == 0) throw NativeException(EEXIST);
        if (std::rename(source.c_str(), target.c_str()) != 0) throw NativeException();
        return;
    }
    if (errno != EXDEV) throw NativeException();

    struct stat st {};
    if (lstat(source.c_str(), &st) != 0) throw NativeException();
    if (!S_ISREG(st.st_mode)) throw NativeException(EXDEV);
    copyFile(source, target);
    if (unlink(source.c_str()) != 0) {
        // Keep one copy only: the source stays, the new one goes.
        const int error = errno;
        unlink(target.c_str());
        throw NativeException(error);
    }
}

} // namespace kx5
