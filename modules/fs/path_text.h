// Small text operations on file-system paths.
#pragma once

#include <string>
#include <string_view>

namespace kx5 {

// Drops every trailing "/", but keeps a lone "/" (the root).
std::string withoutTrailingSlashes(std::string_view path);
// Ensures exactly one trailing "/" (an empty path stays empty).
std::string withTrailingSlash(std::string_view path);
// The folder part of a path without trailing slashes ("." when there is none).
std::string parentFolder(std::string_view path);
// The last component of a path without trailing slashes.
std::string lastComponent(std::string_view path);

} // namespace kx5
