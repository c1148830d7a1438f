#include "host/entry.h"

namespace kx5 {

std::string appNameFromExecutable(const std::string& argv0) {
    std::string base = argv0.substr(argv0.find_last_of('/') + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    return base.empty() ? "kx5-editor" : base;
}

} // namespace kx5
