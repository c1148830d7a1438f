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

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct Point {
    int x = 0;
    int y = 0;
};

// A window's top-left corner moved just far enough that a window of that
// size lies inside the work area (its top-left corner at the area's when it
// is larger than the area). An empty area changes nothing.
Point clampToWorkArea(Point wanted, Size size, const Rect& workArea);

// A wanted size limited to the work area (each side on its own).
Size limitToWorkArea(Size wanted, Size workArea);

// The size to open with: the saved one as it is, else the default limited to
// the work area.
Size initialSize(const WindowPlacement& saved, Size workArea);

} // namespace kx5
