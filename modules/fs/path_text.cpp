#include "modules/fs/path_text.h"

namespace kx5 {

std::string withoutTrailingSlashes(std::string_view path) {
    const size_t end = path.find_last_not_of('/');
    if (end == std::string_view::npos) return path.empty() ? std::string() : std::string("/");
    return std::string(path.substr(0, end + 1));
}

std::string withTrailingSlash(std::string_view path) {
    if (path.empty()) return {};
    return withoutTrailingSlashes(path) == "/" ? "/" : withoutTrailingSlashes(path) + "/";
}

std::string parentFolder(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return withoutTrailingSlashes(path.substr(0, slash));
}

std::string lastComponent(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || path == "/") return std::string(path);
    return std::string(path.substr(slash + 1));
}

} // namespace kx5
