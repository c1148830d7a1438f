#include "host/bundle_install.h"

#include "modules/fs/zip_extract.h"
#include "resources/bundle_resource.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kx5 {
namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

bool writeFile(const std::string& path, std::string_view bytes) {
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size())
        return false;
    return std::fflush(f.get()) == 0 && fsync(fileno(f.get())) == 0;
}

bool unzipArchive(const std::string& archivePath, const std::string& dest) {
    try {
        extractZip(archivePath, dest);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

bool installBundleArchive(const std::string& dataFolder, std::string_view archive,
                          const std::string& bundleId) {
    if (!ensureFolder(dataFolder)) return false;
    const std::string archivePath = dataFolder + bundleId + ".zip";
    struct stat st {};
    if (bundleId != "tmp" && stat(archivePath.c_str(), &st) == 0) return true;
    if (archive.empty()) return false;
    if (!writeFile(archivePath, archive)) {
        std::remove(archivePath.c_str());
        return false;
    }
    if (unzipArchive(archivePath, dataFolder)) return true;
    // Without the marker the next start tries again.
    std::remove(archivePath.c_str());
    return false;
}

std::string installBundle(const AppPaths& paths) {
    if (installBundleArchive(paths.dataFolder, bundleArchive(), bundleId()))
        return "file://" + paths.dataFolder + "html/index.html";
    return "about:blank";
}

} // namespace kx5
