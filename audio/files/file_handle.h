// Owning stdio handle.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace kx5 {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

inline FileHandle openFile(const std::string& path, const char* mode) {
    return FileHandle(std::fopen(path.c_str(), mode));
}

} // namespace kx5
