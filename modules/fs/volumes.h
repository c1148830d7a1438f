// "volumes" and "unmount": the mounted file systems a user works with, and
// unmounting or ejecting removable ones.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx5 {

struct MountEntry {
    std::string mountPoint; // as the kernel reports it, octal escapes decoded
    std::string type;
    std::string source;
    unsigned major = 0, minor = 0;
};

// Lines of /proc/self/mountinfo, in mount order.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Whether a mount belongs in the volume list: the root, /home, and removable
// media under /media or /run/media.
bool isUserVolume(const MountEntry& mount);

// JSON array of {"mount": folder ending in "/", "volume": label or ""}.
std::string listVolumes();

// Unmounts (ejecting where the medium allows) the volume holding the path.
// Nothing on success, otherwise why it failed.
std::optional<std::string> unmountVolume(const std::string& path);

} // namespace kx5
