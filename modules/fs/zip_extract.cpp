#include "modules/fs/zip_extract.h"

#include "bridge/native_call.h"
#include "bridge/unique_fd.h"
#include "modules/fs/file_io.h"
#include "modules/fs/file_operations.h"

#include <zip.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace kx5 {
namespace {

struct ArchiveCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct EntryCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;
using ArchiveEntry = std::unique_ptr<zip_file_t, EntryCloser>;

[[noreturn]] void throwZipError(zip_error_t* error) {
    if (zip_error_system_type(error) == ZIP_ET_SYS)
        throw NativeException(zip_error_code_system(error));
    throw NativeException(std::string(zip_error_strerror(error)));
}

Archive openArchive(const std::string& path) {
    int code = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (!z) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        // A missing or unreadable file reports the system's message.
        if (code == ZIP_ER_NOENT) throw NativeException(ENOENT);
        const std::string message = zip_error_strerror(&error);
        const int system =
            zip_error_system_type(&error) == ZIP_ET_SYS ? zip_error_code_system(&error) : 0;
        zip_error_fini(&error);
        if (system != 0) throw NativeException(system);
        throw NativeException(message);
    }
    return Archive(z);
}

// Opens (creating when missing) one folder below an open folder, refusing a
// link in its place.
UniqueFd enterFolder(int parent, const std::string& name) {
    if (mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) throw NativeException();
    UniqueFd fd(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) throw NativeException();
    return fd;
}

UniqueFd createFile(int folder, const std::string& name) {
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    UniqueFd fd(openat(folder, name.c_str(), flags, 0666));
    if (!fd && errno == ELOOP) {
        // A link of that name is replaced, never written through.
        if (unlinkat(folder, name.c_str(), 0) != 0) throw NativeException();
        fd.reset(openat(folder, name.c_str(), flags | O_EXCL, 0666));
    }
    if (!fd) throw NativeException();
    return fd;
}

void writeEntry(zip_t* archive, zip_uint64_t index, int fd) {
    ArchiveEntry entry(zip_fopen_index(archive, index, 0));
    if (!entry) throwZipError(zip_get_error(archive));
    char buffer[64 * 1024];
    for (;;) {
        const zip_int64_t n = zip_fread(entry.get(), buffer, sizeof buffer);
        if (n < 0) throwZipError(zip_file_get_error(entry.get()));
        if (n == 0) break;
        if (!writeAll(fd, std::string_view(buffer, size_t(n)))) throw NativeException();
    }
    zip_stat_t st;
    if (zip_stat_index(archive, index, 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME)) {
        const timespec times[2] = {{0, UTIME_OMIT}, {st.mtime, 0}};
        futimens(fd, times);
    }
}

} // namespace

std::optional<std::vector<std::string>> safeEntryPath(std::string_view entryName) {
    std::vector<std::string> parts;
    if (entryName.empty() || entryName[0] == '/' || entryName[0] == '\\') return std::nullopt;
    std::string part;
    auto finish = [&]() -> bool {
        if (part == "..") return false;
        if (!part.empty() && part != ".") parts.push_back(part);
        part.clear();
        return true;
    };
    for (char c : entryName) {
        if (c == '/' || c == '\\') {
            if (!finish()) return std::nullopt;
        } else {
            part += c;
        }
    }
    if (!finish()) return std::nullopt;
    return parts;
}

void extractZip(const std::string& archivePath, const std::string& folder) {
    Archive archive = openArchive(archivePath);
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);

    struct Item {
        zip_uint64_t index;
        std::vector<std::string> path;
        bool folder;
    };
    std::vector<Item> items;
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(archive.get(), zip_uint64_t(i), 0);
        if (!name) throwZipError(zip_get_error(archive.get()));
        const std::string_view text(name);
        auto path = safeEntryPath(text);
        if (!path)
            throw NativeException("The archive entry \"" + std::string(text) +
                                  "\" would be written outside the target folder");
        // "./" and the like name the target folder itself.
        if (path->empty()) continue;
        const bool isFolder = text.back() == '/' || text.back() == '\\';
        items.push_back({zip_uint64_t(i), std::move(*path), isFolder});
    }

    makeFolders(folder);
    UniqueFd root(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root) throw NativeException();
    for (const auto& item : items) {
        UniqueFd current;
        int at = root.get();
        const size_t folders = item.folder ? item.path.size() : item.path.size() - 1;
        for (size_t i = 0; i < folders; ++i) {
            current = enterFolder(at, item.path[i]);
            at = current.get();
        }
        if (item.folder) continue;
        UniqueFd file = createFile(at, item.path.back());
        writeEntry(archive.get(), item.index, file.get());
        if (!file.close()) throw NativeException();
    }
}

} // namespace kx5
