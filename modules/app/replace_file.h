// Whole-file writes for the program's own small files (the settings file,
// the "pref" files): the new content is written to an unnamed file, made
// durable and renamed over the old one, so a reader sees the old file or the
// new one, never a part. A writer killed on the way leaves at most one
// hidden ".<name>.writing-XXXXXX" file, which it holds locked while it lives;
// removeStaleWrites takes away those of writers that are gone.
#pragma once

#include <string>
#include <string_view>

namespace kx5 {

// False with errno set on failure (the old file is then unchanged).
bool replaceFile(const std::string& path, std::string_view bytes);

// Removes, in folder (ending in "/"), the files that replaceFile of an
// earlier run left behind and that no running writer holds; names that
// other programs or the page chose are never touched. With a name,
// "<name>.XXXXXX" files (the temporary names of the library writer this
// program used before) go too, but only where <name> itself exists.
// Answers how many files went.
size_t removeStaleWrites(const std::string& folder);

} // namespace kx5
