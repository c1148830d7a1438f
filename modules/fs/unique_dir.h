// Owning directory stream.
#pragma once

#include <dirent.h>

namespace kx5 {

class UniqueDir {
  public:
    explicit UniqueDir(DIR* dir = nullptr) : dir_(dir) {}
    ~UniqueDir() {
        if (dir_) ::closedir(dir_);
    }
    UniqueDir(const UniqueDir&) = delete;
    UniqueDir& operator=(const UniqueDir&) = delete;
    DIR* get() const { return dir_; }
    explicit operator bool() const { return dir_ != nullptr; }

  private:
    DIR* dir_;
};

} // namespace kx5
