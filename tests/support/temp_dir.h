// A temporary folder removed with everything in it at the end of a test.
#pragma once

#include <filesystem>
#include <string>

namespace kx5::test {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kx5test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // With a trailing "/".
    std::string path() const { return path_.string() + "/"; }

  private:
    std::filesystem::path path_;
};

} // namespace kx5::test
