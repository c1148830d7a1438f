// The folders behind the keys of "path": the user's XDG folders and the
// program's own folders.
#pragma once

#include <optional>
#include <string>

namespace kx5 {

struct AppPaths;

// The folder for a key of "path", ending in "/". Never fails: a folder that is
// not configured gives the documents folder, and that the home folder.
std::string folderForKey(const std::string& key, const AppPaths& paths);

// The media library ("data" in the program's data folder), created when
// missing; ends in "/".
std::string mediaLibraryFolder(const AppPaths& paths);

// The user's home folder, without a trailing "/".
std::string homeFolder();

// A folder named in the user's user-dirs.dirs ("MUSIC", "DOCUMENTS"...):
// the configured path, or nothing when the entry is missing or unreadable.
std::optional<std::string> configuredUserFolder(const std::string& name);

} // namespace kx5
