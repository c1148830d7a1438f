// The main window's saved placement and size rules (logical pixels).
#pragma once

#include <optional>

namespace kx5 {

class SettingsFile;

struct Size {
    int width = 0;
    int height = 0;
};

constexpr Size kDefaultClientSize{1160, 618};
constexpr Size kMinimumClientSize{760, 618};

// The normal (not maximized) rectangle and the maximized state. Values that
// were never saved, or do not read as integers, are absent.
struct WindowPlacement {
    std::optional<int> x, y, width, height;
    bool maximized = false;

    static WindowPlacement load(const SettingsFile& settings);
    void store(SettingsFile& settings) const;
};

// A wanted size limited to the work area (each side on its own).
Size limitToWorkArea(Size wanted, Size workArea);

// The size to open with: the saved one as it is, else the default limited to
// the work area.
Size initialSize(const WindowPlacement& saved, Size workArea);

} // namespace kx5
