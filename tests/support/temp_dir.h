// A temporary folder removed with everything in it when the object goes,
// folders a test made read-only included.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kx5::test {

class TempDir {
  public:
    // A new folder under the system's temporary folder.
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // With a trailing "/".
    std::string path() const { return path_ + "/"; }
    std::string file(const std::string& name) const { return path() + name; }
    // Names of the entries, sorted.
    std::vector<std::string> entries() const;

  private:
    std::string path_;
};

// The variables that give a program a private home in folder: HOME (folder
// as given), the XDG data, config, cache and runtime folders (the last made,
// mode 0700) and TMPDIR (made) below it.
std::map<std::string, std::string> privateHomeEnvironment(const std::string& folder);

} // namespace kx5::test
