// File entries of "contents" and "stat": name, size (low 32 bits), folder
// flag and what the user may do with the entry.
#pragma once

#include <string>

namespace kx5 {

// JSON array of the visible entries of a folder (names starting with a dot
// are left out), sorted by name. With an extension only names ending in
// "." + extension (case-insensitive, "*" and "?" as wildcards) are listed,
// and a folder without any such name is an error (ENOENT).
// extension: null or empty for every entry.
std::string listFolder(const std::string& folder, const std::string* extension);

// JSON object for one path, hidden or not.
std::string statEntry(const std::string& path);

} // namespace kx5
