#include "host/gtk/window_placement.h"

#include "modules/app/settings_file.h"

#include <algorithm>

namespace kx5 {
namespace {
constexpr const char* kGroup = "window";
} // namespace

WindowPlacement WindowPlacement::load(const SettingsFile& settings) {
    WindowPlacement p;
    p.x = settings.getInt(kGroup, "x");
    p.y = settings.getInt(kGroup, "y");
    p.width = settings.getInt(kGroup, "width");
    p.height = settings.getInt(kGroup, "height");
    // A size of zero or less cannot be shown; the default is used instead.
    if (p.width && *p.width <= 0) p.width.reset();
    if (p.height && *p.height <= 0) p.height.reset();
    p.maximized = settings.getInt(kGroup, "maximized").value_or(0) != 0;
    return p;
}

void WindowPlacement::store(SettingsFile& settings) const {
    if (x) settings.setInt(kGroup, "x", *x);
    if (y) settings.setInt(kGroup, "y", *y);
    if (width) settings.setInt(kGroup, "width", *width);
    if (height) settings.setInt(kGroup, "height", *height);
    settings.setInt(kGroup, "maximized", maximized ? 1 : 0);
}

Size limitToWorkArea(Size wanted, Size workArea) {
    if (workArea.width > 0) wanted.width = std::min(wanted.width, workArea.width);
    if (workArea.height > 0) wanted.height = std::min(wanted.height, workArea.height);
    return wanted;
}

Point clampToWorkArea(Point wanted, Size size, const Rect& workArea) {
    if (workArea.width <= 0 || workArea.height <= 0) return wanted;
    const auto clamp = [](int at, int length, int start, int room) {
        // Written so that positions far out (INT_MIN) cannot overflow.
        const long long last = static_cast<long long>(start) + room - std::max(0, length);
        return static_cast<int>(std::max<long long>(start, std::min<long long>(at, last)));
    };
    return {clamp(wanted.x, size.width, workArea.x, workArea.width),
            clamp(wanted.y, size.height, workArea.y, workArea.height)};
}

Size initialSize(const WindowPlacement& saved, Size workArea) {
    const Size fallback = limitToWorkArea(kDefaultClientSize, workArea);
    return {saved.width.value_or(fallback.width), saved.height.value_or(fallback.height)};
}

} // namespace kx5
