// The private library of imported media files, addressed by file URLs.
#pragma once

#include <string>
#include <string_view>

namespace kx5 {

// "file://" + the path, with spaces, non-ASCII bytes (as UTF-8), "%" and the
// other characters unsafe in a URL percent-escaped in upper-case hex.
std::string mediaUrl(std::string_view path);

// The import record {"url": media URL}.
std::string importRecord(std::string_view path);

// Copies the file into the library folder (ending in "/") under its own
// name, or name_1, name_2, ... when that exists; returns the copy's path.
// Any failure other than an existing target ends the numbering and throws.
std::string importMediaFile(const std::string& source, const std::string& libraryFolder);

// Deletes the library copy a media URL names (escapes decoded); returns its
// path, or an empty text when nothing in the library was deleted.
std::string deleteMediaFile(const std::string& url, const std::string& libraryFolder);

} // namespace kx5
