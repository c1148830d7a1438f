// "unzip": every entry of a ZIP archive into a folder, keeping the archive's
// folder structure and replacing files of the same name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx5 {

// The path components an entry name stands for ("\" counts as a separator;
// empty and "." components are dropped). Nothing when the entry would land
// outside the target folder (absolute name or a ".." component).
std::optional<std::vector<std::string>> safeEntryPath(std::string_view entryName);

// Creates the folder when missing. An archive holding any entry that would
// land outside the folder is refused before anything is written; existing
// symbolic links inside the folder are never followed.
void extractZip(const std::string& archive, const std::string& folder);

} // namespace kx5
