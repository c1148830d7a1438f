// Per-user folders of the program, all ending in "/".
#pragma once

#include <string>

namespace kx5 {

struct AppPaths {
    std::string appName;
    std::string dataFolder;   // $XDG_DATA_HOME/velmar/<appName>/ (bundle, pref files, media)
    std::string configFolder; // $XDG_CONFIG_HOME/velmar/<appName>/ (settings file)
    // Private 0700 folder under $XDG_RUNTIME_DIR, else under the temp dir;
    // empty when none can exist (then every call that needs it fails).
    std::string tempFolder;

    static AppPaths forApp(const std::string& appName);
};

// Creates the folder and its parents (mode 0700 for new ones); true when it
// exists afterwards.
bool ensureFolder(const std::string& path);

// Creates the folder with its parents; true when it is a folder (not a
// link) of this user that only this user can enter (made so when needed).
bool ensurePrivateFolder(const std::string& path);

// The private temporary folder of the program, created when needed; with
// "/", or empty (and the reason in *problem when given) when none can be.
// Under $XDG_RUNTIME_DIR when that is a folder of this user, else under
// $TMPDIR (or /tmp) as velmar-<uid>-<appName>; when another user holds that
// name first, a folder of this user's own with a random suffix takes its
// place (the same one on every later start).
std::string ensurePrivateTempFolder(const std::string& appName, std::string* problem = nullptr);

} // namespace kx5
