#include "tests/support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace kx5::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kx5test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder: " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, std::string> privateHomeEnvironment(const std::string& folder) {
    const std::string base = !folder.empty() && folder.back() == '/' ? folder : folder + "/";
    fs::create_directories(base + "tmp");
    fs::create_directories(base + "runtime");
    fs::permissions(base + "runtime", fs::perms::owner_all);
    return {{"HOME", folder},
            {"XDG_CONFIG_HOME", base + "config"},
            {"XDG_DATA_HOME", base + "data"},
            {"XDG_CACHE_HOME", base + "cache"},
            {"XDG_RUNTIME_DIR", base + "runtime"},
            {"TMPDIR", base + "tmp"}};
}

} // namespace kx5::test
