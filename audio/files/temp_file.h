// A uniquely named temporary file that is removed with its owner.
#pragma once

#include <string>

namespace kx5 {

class TempFile {
  public:
    // Creates an empty file "___XXXXXX<suffix>" in folder (which ends in "/");
    // valid() is false when that fails.
    TempFile(const std::string& folder, const std::string& suffix);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool valid() const { return !path_.empty(); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

} // namespace kx5
