#include "modules/fs/volumes.h"

#include "modules/fs/path_text.h"
#include "modules/fs/unique_dir.h"

#include <picojson.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace kx5 {
namespace {

// mountinfo writes space, tab, newline and backslash as \ooo.
std::string decodeOctal(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i >= 4) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string_view::npos) {
                out += char((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// udev writes unsafe characters of a label as \xHH.
std::string decodeUdevLabel(std::string_view name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && name.size() - i >= 4 && name[i + 1] == 'x') {
            const std::string hex(name.substr(i + 2, 2));
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += name[i];
    }
    return out;
}

std::string labelOf(const MountEntry& mount) {
    UniqueDir dir(opendir("/dev/disk/by-label"));
    if (!dir) return {};
    while (const dirent* e = readdir(dir.get())) {
        if (e->d_name[0] == '.') continue;
        struct stat st {};
        const std::string link = std::string("/dev/disk/by-label/") + e->d_name;
        if (stat(link.c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
            major(st.st_rdev) == mount.major && minor(st.st_rdev) == mount.minor)
            return decodeUdevLabel(e->d_name);
    }
    return {};
}

bool under(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0;
}

} // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint, options;
        if (!(fields >> id >> parent >> device >> root >> mountPoint >> options)) continue;
        // Optional fields end with a lone "-".
        std::string field;
        while (fields >> field && field != "-") {
        }
        MountEntry m;
        if (!(fields >> m.type >> m.source)) continue;
        m.mountPoint = decodeOctal(mountPoint);
        m.source = decodeOctal(m.source);
        const size_t colon = device.find(':');
        if (colon != std::string::npos) {
            m.major = unsigned(std::strtoul(device.c_str(), nullptr, 10));
            m.minor = unsigned(std::strtoul(device.c_str() + colon + 1, nullptr, 10));
        }
        mounts.push_back(std::move(m));
    }
    return mounts;
}

bool isUserVolume(const MountEntry& mount) {
    const std::string& p = mount.mountPoint;
    return p == "/" || p == "/home" || under(p, "/media/") || under(p, "/run/media/");
}

std::string listVolumes() {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream text;
    text << in.rdbuf();
    // A later mount on the same folder hides the earlier one.
    const auto mounts = parseMountInfo(text.str());
    std::vector<const MountEntry*> shown;
    for (const auto& m : mounts) {
        if (!isUserVolume(m)) continue;
        bool replaced = false;
        for (auto& s : shown) {
            if (s->mountPoint == m.mountPoint) {
                s = &m;
                replaced = true;
            }
        }
        if (!replaced) shown.push_back(&m);
    }
    picojson::array volumes;
    for (const auto* m : shown) {
        picojson::object o;
        o["mount"] = picojson::value(withTrailingSlash(m->mountPoint));
        o["volume"] = picojson::value(labelOf(*m));
        volumes.push_back(picojson::value(o));
    }
    return picojson::value(volumes).serialize();
}

} // namespace kx5
