// Per-user folders of the program, all ending in "/".
#pragma once

#include <string>

namespace kx5 {

struct AppPaths {
    std::string appName;
    std::string dataFolder;   // $XDG_DATA_HOME/velmar/<appName>/ (bundle, pref files, media)
    std::string configFolder; // $XDG_CONFIG_HOME/velmar/<appName>/ (settings file)
    std::string tempFolder;   // private 0700 folder under the system temp folder

    static AppPaths forApp(const std::string& appName);
};

// Creates the folder and its parents (mode 0700 for new ones); true when it
// exists afterwards.
bool ensureFolder(const std::string& path);

// Makes sure the private temporary folder exists, is ours and is 0700;
// returns it (with "/") or an empty text.
std::string ensurePrivateTempFolder(const std::string& appName);

} // namespace kx5
