#include "modules/fs/directory_listing.h"

#include "bridge/native_call.h"
#include "bridge/unique_fd.h"
#include "modules/fs/path_text.h"
#include "modules/fs/unique_dir.h"

#include <picojson.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kx5 {
namespace {

// Write access for the user and at least one write permission bit: a file
// with every write bit cleared counts as write-protected even for root, as
// "rm" treats it.
bool mayWrite(int dirfd, const char* name, const struct stat& st) {
    return (st.st_mode & 0222) != 0 && faccessat(dirfd, name, W_OK, 0) == 0;
}

// Whether entries of the folder may be removed by this user; the owner of
// the entry matters only in a sticky folder such as /tmp.
struct RemovalRights {
    bool folderWritable = false;
    bool sticky = false;
    uid_t folderOwner = 0;

    static RemovalRights of(const std::string& folder) {
        RemovalRights r;
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0) return r;
        r.folderWritable = (st.st_mode & 0222) != 0 && access(folder.c_str(), W_OK | X_OK) == 0;
        r.sticky = (st.st_mode & S_ISVTX) != 0;
        r.folderOwner = st.st_uid;
        return r;
    }

    bool allows(const struct stat& entry) const {
        if (!folderWritable) return false;
        const uid_t me = geteuid();
        return !sticky || me == 0 || me == entry.st_uid || me == folderOwner;
    }
};

// Facts about one entry; links are followed for size and kind, and a
// dangling link describes itself.
picojson::value entryFor(int dirfd, const std::string& name, const std::string& displayName,
                         const RemovalRights& rights) {
    struct stat st {
    }, own{};
    if (fstatat(dirfd, name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) throw NativeException();
    if (fstatat(dirfd, name.c_str(), &st, 0) != 0) st = own;
    const bool directory = S_ISDIR(st.st_mode);
    const bool writable = mayWrite(dirfd, name.c_str(), st);
    picojson::object o;
    o["name"] = picojson::value(displayName);
    o["size"] = picojson::value(directory ? 0.0 : double(uint32_t(uint64_t(st.st_size))));
    o["directory"] = picojson::value(directory);
    o["readable"] = picojson::value(faccessat(dirfd, name.c_str(), R_OK, 0) == 0);
    o["writable"] = picojson::value(writable);
    o["deletable"] = picojson::value(writable && rights.allows(own));
    return picojson::value(o);
}

// "*." + extension with the characters fnmatch would treat specially, other
// than the wildcards, taken literally.
std::string extensionPattern(const std::string& extension) {
    std::string pattern = "*.";
    for (char c : extension) {
        if (c == '[' || c == ']' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern;
}

bool nameOrder(const std::string& a, const std::string& b) {
    const int folded = strcasecmp(a.c_str(), b.c_str());
    return folded != 0 ? folded < 0 : a < b;
}

} // namespace

std::string listFolder(const std::string& folder, const std::string* extension) {
    const std::string path = withoutTrailingSlashes(folder);
    UniqueFd dirfd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirfd) throw NativeException();
    UniqueDir dir(fdopendir(dup(dirfd.get())));
    if (!dir) throw NativeException();

    const bool filtered = extension && !extension->empty();
    const std::string pattern = filtered ? extensionPattern(*extension) : std::string();
    bool anyMatch = false;
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* e = readdir(dir.get())) {
        const std::string name = e->d_name;
        if (filtered && fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
        // "." and ".." count as matches (an empty folder lists as []), but
        // hidden entries are never listed.
        anyMatch = true;
        if (name[0] != '.') names.push_back(name);
    }
    if (errno != 0) throw NativeException();
    if (!anyMatch) throw NativeException(ENOENT);

    std::sort(names.begin(), names.end(), nameOrder);
    const RemovalRights rights = RemovalRights::of(path);
    picojson::array entries;
    for (const auto& name : names) {
        // An entry removed while listing is no longer part of the folder.
        struct stat st {};
        if (fstatat(dirfd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
            continue;
        entries.push_back(entryFor(dirfd.get(), name, name, rights));
    }
    return picojson::value(entries).serialize();
}

std::string statEntry(const std::string& path) {
    if (path.empty()) throw NativeException(ENOENT);
    const std::string trimmed = withoutTrailingSlashes(path);
    const std::string parent = parentFolder(trimmed);
    return entryFor(AT_FDCWD, trimmed, lastComponent(trimmed), RemovalRights::of(parent))
        .serialize();
}

} // namespace kx5
