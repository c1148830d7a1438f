#include "library/folder_walk.h"

#include "modules/fs/unique_dir.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace kx5 {
namespace {

int64_t mtimeOf(const struct stat& st) {
    return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

} // namespace

FolderWalk walkFolder(const std::string& root,
                      const std::function<bool(std::string_view name)>& isCandidate,
                      const std::atomic<bool>& cancel) {
    FolderWalk walk;
    std::set<std::pair<dev_t, ino_t>> visited;
    std::vector<std::string> pending{root};
    while (!pending.empty()) {
        if (cancel.load()) {
            walk.cancelled = true;
            return walk;
        }
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        UniqueDir dir(opendir(folder.c_str()));
        if (!dir) {
            const std::string reason = std::strerror(errno);
            if (folder == root) walk.rootMissing = true;
            walk.problems.push_back({folder, reason});
            continue;
        }
        struct stat self {};
        if (fstat(dirfd(dir.get()), &self) != 0 ||
            !visited.insert({self.st_dev, self.st_ino}).second)
            continue;
        const int fd = dirfd(dir.get());
        while (const dirent* e = readdir(dir.get())) {
            const std::string_view name = e->d_name;
            if (name.empty() || name[0] == '.') continue;
            const unsigned char type = e->d_type;
            const bool maybeFolder = type == DT_DIR || type == DT_LNK || type == DT_UNKNOWN;
            if (!maybeFolder && !isCandidate(name)) continue;
            struct stat st {};
            if (fstatat(fd, e->d_name, &st, 0) != 0) continue; // a dangling link
            std::string path = folder + "/" + std::string(name);
            if (S_ISDIR(st.st_mode)) {
                pending.push_back(std::move(path));
            } else if (isCandidate(name)) {
                FoundFile f{std::move(path), int64_t(st.st_size), mtimeOf(st), {}};
                if (!S_ISREG(st.st_mode)) f.problem = "not a regular file";
                walk.files.push_back(std::move(f));
            }
        }
    }
    return walk;
}

} // namespace kx5
