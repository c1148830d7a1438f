#include "bridge/app_paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kx5 {
namespace {

std::string withSlash(std::string p) {
    if (p.empty() || p.back() != '/') p += '/';
    return p;
}

std::string homeFolder() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

std::string xdgFolder(const char* var, const char* fallback) {
    const char* v = std::getenv(var);
    // XDG base directories must be absolute; a relative one is ignored.
    if (v && v[0] == '/') return withSlash(v);
    return withSlash(homeFolder()) + fallback;
}

} // namespace

AppPaths AppPaths::forApp(const std::string& appName) {
    AppPaths p;
    p.appName = appName;
    p.dataFolder = xdgFolder("XDG_DATA_HOME", ".local/share/") + "velmar/" + appName + "/";
    p.configFolder = xdgFolder("XDG_CONFIG_HOME", ".config/") + "velmar/" + appName + "/";
    std::string problem;
    p.tempFolder = ensurePrivateTempFolder(appName, &problem);
    if (p.tempFolder.empty())
        std::fprintf(stderr, "temp: %s; conversions and downloads will fail\n", problem.c_str());
    return p;
}

bool ensureFolder(const std::string& path) {
    if (path.empty()) return false;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// The folder is a real folder of ours, and private.
bool isPrivateFolder(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return false;
    return (st.st_mode & 0077) == 0 || chmod(path.c_str(), 0700) == 0;
}

std::string withoutSlash(std::string p) {
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

// A folder of ours named <prefix>XXXXXX in root (one an earlier start made),
// else a new one; empty when none can be made.
std::string suffixedFolder(const std::string& root, const std::string& prefix) {
    std::vector<std::string> ours;
    if (DIR* dir = opendir(root.c_str())) {
        while (const dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() == prefix.size() + 6 && name.rfind(prefix, 0) == 0 &&
                isPrivateFolder(root + name))
                ours.push_back(name);
        }
        closedir(dir);
    }
    if (!ours.empty()) return root + *std::min_element(ours.begin(), ours.end());
    std::string pattern = root + prefix + "XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

} // namespace

bool ensurePrivateFolder(const std::string& path) {
    const std::string folder = withoutSlash(path);
    if (folder.empty()) return false;
    const size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !ensureFolder(folder.substr(0, slash)))
        return false;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return isPrivateFolder(folder);
}

std::string ensurePrivateTempFolder(const std::string& appName, std::string* problem) {
    const auto fail = [&](std::string why) {
        if (problem) *problem = std::move(why);
        return std::string();
    };
    // The session's own runtime folder: no other user can reach into it.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        const std::string base = withoutSlash(runtime);
        const std::string folder = base + "/velmar-" + appName;
        if (isPrivateFolder(base) && ensurePrivateFolder(folder)) return folder + "/";
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string root = withSlash(withoutSlash(tmp && tmp[0] == '/' ? tmp : "/tmp"));
    if (!ensureFolder(root))
        return fail("the temporary folder " + root + " cannot be made: " + std::strerror(errno));
    const std::string name = "velmar-" + std::to_string(getuid()) + "-" + appName;
    if (ensurePrivateFolder(root + name)) return root + name + "/";
    // Not ours (another user made it first, or a link): never used, and
    // never in the way either.
    const std::string other = suffixedFolder(root, name + "-");
    if (other.empty() || !isPrivateFolder(other))
        return fail("no private folder can be made in " + root + ": " + std::strerror(errno));
    return other + "/";
}

} // namespace kx5
