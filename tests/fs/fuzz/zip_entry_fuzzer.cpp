// libFuzzer target for the names of zip entries. The input is a list of
// entry names, one a line (a line "name=text" gives the entry that text);
// the names are checked as the extractor reads them, and an archive holding
// them is really written and unpacked into a sandbox folder: nothing may land
// outside the target, and an archive with one bad name writes nothing.
#include "bridge/native_call.h"
#include "modules/fs/zip_extract.h"

#include <zip.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

void checkPath(std::string_view name) {
    const auto parts = kx5::safeEntryPath(name);
    const bool absolute = !name.empty() && (name[0] == '/' || name[0] == '\\');
    if (name.empty() || absolute) {
        if (parts) std::abort();
        return;
    }
    if (!parts) return;
    for (const auto& p : *parts)
        if (p.empty() || p == "." || p == ".." || p.find_first_of("/\\") != std::string::npos)
            std::abort();
}

const fs::path& sandbox() {
    static const fs::path base = [] {
        const fs::path p = fs::temp_directory_path() / ("kx5-zip-fuzz-" + std::to_string(getpid()));
        fs::remove_all(p);
        fs::create_directories(p);
        return p;
    }();
    return base;
}

// Everything under the sandbox that is neither the archive nor inside out/.
bool onlyArchiveAndTarget(const fs::path& base) {
    for (const auto& e : fs::recursive_directory_iterator(base)) {
        const fs::path rel = fs::relative(e.path(), base);
        const std::string first = rel.begin()->string();
        if (first != "in.zip" && first != "out") return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    struct Entry {
        std::string name, text;
    };
    std::vector<Entry> entries;
    for (size_t at = 0; at <= input.size() && entries.size() < 16;) {
        size_t end = input.find('\n', at);
        if (end == std::string_view::npos) end = input.size();
        std::string_view line = input.substr(at, end - at);
        at = end + 1;
        line = line.substr(0, line.find('\0'));
        checkPath(line);
        const size_t eq = line.find('=');
        entries.push_back({std::string(line.substr(0, eq)),
                           eq == std::string_view::npos ? "" : std::string(line.substr(eq + 1))});
    }

    const fs::path base = sandbox();
    const std::string archivePath = (base / "in.zip").string();
    int code = 0;
    zip_t* archive = zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive) std::abort();
    std::vector<std::string> names;
    for (const auto& e : entries) {
        if (e.name.empty()) continue;
        zip_source_t* source = zip_source_buffer(archive, e.text.data(), e.text.size(), 0);
        if (!source) continue;
        if (zip_file_add(archive, e.name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_RAW) < 0) {
            zip_source_free(source);
            continue;
        }
        names.push_back(e.name);
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        fs::remove_all(base / "in.zip");
        return 0;
    }

    bool refused = false;
    try {
        kx5::extractZip(archivePath, (base / "out").string());
    } catch (const kx5::NativeException&) {
        refused = true;
    }
    if (!onlyArchiveAndTarget(base)) std::abort();
    bool anyUnsafe = false;
    for (const auto& n : names)
        anyUnsafe = anyUnsafe || !kx5::safeEntryPath(n);
    // A bad name refuses the whole archive before anything is written.
    if (anyUnsafe && (!refused || (fs::exists(base / "out") && !fs::is_empty(base / "out"))))
        std::abort();
    for (const auto& e : fs::directory_iterator(base))
        fs::remove_all(e.path());
    return 0;
}
