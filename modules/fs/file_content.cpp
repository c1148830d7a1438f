#include "modules/fs/file_content.h"

#include "bridge/json_parse.h"
#include "bridge/native_call.h"
#include "bridge/unique_fd.h"
#include "modules/fs/file_io.h"
#include "modules/fs/path_text.h"

#include <picojson.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kx5 {
namespace {

// JSON numbers become 32-bit integers by truncation toward zero, keeping the
// low 32 bits of larger values.
int32_t toInt32(const picojson::value& v) {
    const double d = v.get<double>();
    if (!std::isfinite(d) || std::fabs(d) >= 9.2e18)
        throw std::invalid_argument("read option out of range");
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(d)));
}

// Plain truncate-and-write, for targets that cannot be replaced by renaming
// (devices, or a writable file in a folder the user may not write to).
void writeInPlace(const std::string& path, std::string_view bytes) {
    UniqueFd fd(
        open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!fd) throw NativeException();
    if (!writeAll(fd.get(), bytes)) throw NativeException();
    if (!fd.close()) throw NativeException();
}

// A file without any write permission bit counts as write-protected even for
// root, as the listing reports it.
void refuseWriteProtected(const std::string& path, const struct stat& st) {
    if ((st.st_mode & 0222) == 0) throw NativeException(EACCES);
    if (access(path.c_str(), W_OK) != 0) throw NativeException();
}

void syncFolder(const std::string& folder) {
    UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) fsync(fd.get());
}

} // namespace

ReadRange parseReadOptions(const std::string& json) {
    picojson::value v;
    if (!parseJson(v, json).empty() || !v.is<picojson::object>())
        throw std::invalid_argument("read options must be a JSON object");
    const auto& o = v.get<picojson::object>();
    const auto offset = o.find("offset");
    const auto length = o.find("length");
    if (offset == o.end() || length == o.end() || !offset->second.is<double>() ||
        !length->second.is<double>())
        throw std::invalid_argument("read options need the numbers offset and length");
    return {toInt32(offset->second), toInt32(length->second)};
}

std::string readFileRange(const std::string& path, ReadRange range) {
    if (range.offset < 0) throw NativeException(EINVAL);
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) throw NativeException();
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) throw NativeException();
    if (S_ISDIR(st.st_mode)) throw NativeException(EISDIR);
    if (!S_ISREG(st.st_mode)) throw NativeException(EINVAL);

    const uint64_t size = uint64_t(st.st_size);
    const uint64_t left = size > uint64_t(range.offset) ? size - uint64_t(range.offset) : 0;
    // The whole rest is asked for with a negative length; a text or hex form
    // of more than 4 GiB cannot cross the bridge.
    if (range.length < 0 && left > UINT32_MAX) throw NativeException(EFBIG);
    // Never more than the file still holds, however large the request.
    const uint64_t wanted = range.length < 0 ? left : std::min<uint64_t>(left, range.length);

    std::string bytes(wanted, '\0');
    size_t got = 0;
    while (got < wanted) {
        const ssize_t n =
            pread(fd.get(), bytes.data() + got, wanted - got, off_t(range.offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw NativeException();
        if (n == 0) break; // the file became shorter
        got += size_t(n);
    }
    bytes.resize(got);
    return bytes;
}

void replaceFileContent(const std::string& path, std::string_view bytes) {
    if (path.empty()) throw NativeException(ENOENT);
    if (path.back() == '/') throw NativeException(EISDIR);

    std::string target = path;
    struct stat old {};
    bool exists = lstat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) throw NativeException();
    if (exists && S_ISLNK(old.st_mode)) {
        // The link stays; its target gets the new content.
        char* resolved = realpath(target.c_str(), nullptr);
        if (!resolved) return writeInPlace(path, bytes);
        target = resolved;
        free(resolved);
        exists = lstat(target.c_str(), &old) == 0;
        if (!exists) return writeInPlace(path, bytes);
    }
    if (exists && S_ISDIR(old.st_mode)) throw NativeException(EISDIR);
    if (exists && !S_ISREG(old.st_mode)) return writeInPlace(target, bytes);
    // Renaming over a file would replace it even when the file itself may not
    // be written; a write-protected file stays as it is.
    if (exists) refuseWriteProtected(target, old);

    const std::string folder = parentFolder(target);
    TemporaryFile temp = TemporaryFile::createBeside(target);
    if (!temp) {
        // A file the user may write in a folder the user may not change can
        // only be rewritten in place.
        if (exists && (errno == EACCES || errno == EPERM)) return writeInPlace(target, bytes);
        throw NativeException();
    }
    if (!writeAll(temp.fd(), bytes)) return temp.fail();
    if (exists) {
        // Ownership can only be given away by root; the mode is applied after
        // it, since a change of owner clears set-id bits.
        [[maybe_unused]] const int owned = fchown(temp.fd(), old.st_uid, old.st_gid);
        if (fchmod(temp.fd(), old.st_mode & 07777) != 0) return temp.fail();
    }
    if (fsync(temp.fd()) != 0) return temp.fail();
    if (!temp.closeFile()) return temp.fail();
    if (std::rename(temp.path().c_str(), target.c_str()) != 0) return temp.fail();
    temp.release();
    syncFolder(folder);
}

void appendFileContent(const std::string& path, std::string_view bytes) {
    if (struct stat st{}; stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        refuseWriteProtected(path, st);
    UniqueFd fd(open(path.c_str(),
                     O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!fd) throw NativeException();
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) throw NativeException();
    if (!writeAll(fd.get(), bytes)) {
        const int error = errno;
        if (S_ISREG(st.st_mode)) {
            [[maybe_unused]] const int restored = ftruncate(fd.get(), st.st_size);
        }
        throw NativeException(error);
    }
    if (!fd.close()) throw NativeException();
}

} // namespace kx5
