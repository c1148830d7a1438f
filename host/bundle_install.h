// Writes the page bundle linked into the executable to the data folder and
// unpacks it there, once per bundle identifier.
#pragma once

#include "bridge/app_paths.h"

#include <string>
#include <string_view>

namespace kx5 {

// Installs the built-in bundle; returns the start address:
// "file://" + dataFolder + "html/index.html", or "about:blank" on failure.
std::string installBundle(const AppPaths& paths);

// The same with a given archive and identifier (tests use their own).
// Returns true when the bundle is installed (now or earlier).
bool installBundleArchive(const std::string& dataFolder, std::string_view archive,
                          const std::string& bundleId);

} // namespace kx5
