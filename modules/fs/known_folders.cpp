#include "modules/fs/known_folders.h"

#include "bridge/app_paths.h"
#include "modules/fs/path_text.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx5 {
namespace {

bool isFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string userDirsFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string base = config && config[0] == '/' ? config : homeFolder() + "/.config";
    return withTrailingSlash(base) + "user-dirs.dirs";
}

// Value of a line XDG_<NAME>_DIR="..." ("$HOME" expanded, backslash escapes
// resolved); nothing when the value is neither absolute nor "$HOME/...".
std::optional<std::string> parseValue(const std::string& quoted) {
    if (quoted.size() < 2 || quoted.front() != '"') return std::nullopt;
    std::string value;
    for (size_t i = 1; i < quoted.size(); ++i) {
        const char c = quoted[i];
        if (c == '"') break;
        if (c == '\\' && i + 1 < quoted.size()) {
            value += quoted[++i];
            continue;
        }
        value += c;
    }
    if (value.rfind("$HOME", 0) == 0) return homeFolder() + value.substr(5);
    if (!value.empty() && value[0] == '/') return value;
    return std::nullopt;
}

// The conventional folder names used when user-dirs.dirs has no entry.
std::string conventionalName(const std::string& name) {
    if (name == "MUSIC") return "Music";
    if (name == "VIDEOS") return "Videos";
    if (name == "PICTURES") return "Pictures";
    if (name == "DOWNLOAD") return "Downloads";
    return "Documents";
}

// The user folder for an XDG name when it is usable: configured (or present
// under its conventional name), not the home folder itself (which is how a
// folder is switched off), and existing.
std::optional<std::string> usableUserFolder(const std::string& name) {
    std::string folder;
    if (auto configured = configuredUserFolder(name))
        folder = withoutTrailingSlashes(*configured);
    else
        folder = homeFolder() + "/" + conventionalName(name);
    if (folder == withoutTrailingSlashes(homeFolder()) || !isFolder(folder)) return std::nullopt;
    return folder;
}

std::string userFolderOrDocuments(const std::string& name) {
    if (auto folder = usableUserFolder(name)) return withTrailingSlash(*folder);
    if (auto documents = usableUserFolder("DOCUMENTS")) return withTrailingSlash(*documents);
    return withTrailingSlash(homeFolder());
}

bool keyIs(const std::string& key, const char* name) {
    return strcasecmp(key.c_str(), name) == 0;
}

} // namespace

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return withoutTrailingSlashes(home);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return withoutTrailingSlashes(pw->pw_dir);
    return "/";
}

std::optional<std::string> configuredUserFolder(const std::string& name) {
    std::ifstream in(userDirsFile());
    const std::string prefix = "XDG_" + name + "_DIR=";
    std::optional<std::string> found;
    for (std::string line; std::getline(in, line);) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, prefix.size(), prefix) != 0) continue;
        // The last assignment wins, as when the file is sourced by a shell.
        found = parseValue(line.substr(start + prefix.size()));
    }
    return found;
}

std::string mediaLibraryFolder(const AppPaths& paths) {
    const std::string folder = paths.dataFolder + "data/";
    ensureFolder(folder);
    return folder;
}

std::string folderForKey(const std::string& key, const AppPaths& paths) {
    if (keyIs(key, "home")) return withTrailingSlash(homeFolder());
    if (keyIs(key, "music")) return userFolderOrDocuments("MUSIC");
    if (keyIs(key, "movies")) return userFolderOrDocuments("VIDEOS");
    if (keyIs(key, "pictures")) return userFolderOrDocuments("PICTURES");
    if (keyIs(key, "downloads")) return userFolderOrDocuments("DOWNLOAD");
    if (keyIs(key, "library")) return mediaLibraryFolder(paths);
    if (keyIs(key, "temporary")) {
        if (!paths.tempFolder.empty() && isFolder(paths.tempFolder)) return paths.tempFolder;
        // Recreated when a cleaner removed it since start-up.
        const std::string temp = ensurePrivateTempFolder(paths.appName);
        if (!temp.empty()) return temp;
        return userFolderOrDocuments("DOCUMENTS");
    }
    if (keyIs(key, "bundle")) {
        ensureFolder(paths.dataFolder);
        return paths.dataFolder;
    }
    return userFolderOrDocuments("DOCUMENTS");
}

} // namespace kx5
