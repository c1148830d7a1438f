// A temporary folder removed with its contents at the end of a test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kx5::test {

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kx5-ir-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // With a trailing "/".
    std::string path() const { return path_.string() + "/"; }
    std::string file(const std::string& name) const { return path() + name; }

  private:
    std::filesystem::path path_;
};

} // namespace kx5::test
