#include "audio/files/temp_file.h"

#include <cstdlib>
#include <unistd.h>

namespace kx5 {

TempFile::TempFile(const std::string& folder, const std::string& suffix) {
    if (folder.empty()) return;
    std::string pattern = folder + "___XXXXXX" + suffix;
    const int fd = mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return;
    ::close(fd);
    path_ = std::move(pattern);
}

TempFile::~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

} // namespace kx5
