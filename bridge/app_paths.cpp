#include "bridge/app_paths.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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
    p.tempFolder = ensurePrivateTempFolder(appName);
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

std::string ensurePrivateTempFolder(const std::string& appName) {
    const char* base = std::getenv("TMPDIR");
    std::string root = withSlash(base && base[0] == '/' ? base : "/tmp");
    const std::string folder = root + "velmar-" + std::to_string(getuid()) + "-" + appName;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    // A folder someone else made (or a link) in a shared temp folder is not used.
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return {};
    if ((st.st_mode & 0077) != 0 && chmod(folder.c_str(), 0700) != 0) return {};
    return folder + "/";
}

} // namespace kx5
