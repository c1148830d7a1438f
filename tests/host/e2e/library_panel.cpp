#include "tests/host/e2e/library_panel.h"

#include "tests/host/e2e/editor_page.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace kx5::e2e {

bool LibraryPanel::addFolder(const std::string& folder, int timeoutMs) {
    EditorPage page(d_);
    if (!page.click("#library-add")) return false;
    if (!x_.waitForWindow("Choose Folder", timeoutMs) || !x_.focusWindow("Choose Folder"))
        return false;
    x_.pressKey("l", true);
    // Without a trailing "/" the name is chosen, not opened. The location
    // entry completes names inline (selected): that is taken out again.
    x_.typeText(folder);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    x_.pressKey("Delete");
    x_.pressKey("Return");
    return x_.waitForWindowGone("Choose Folder", timeoutMs);
}

bool LibraryPanel::waitRows(size_t count, int timeoutMs) {
    return d_.waitFor("return document.querySelectorAll('#library-results li').length === " +
                          std::to_string(count) +
                          " && document.querySelector('.library-progress').hidden",
                      timeoutMs);
}

bool LibraryPanel::typeSearch(const std::string& text) {
    if (!x_.focusWindow("KX-5 Editor")) return false;
    EditorPage page(d_);
    if (!page.click("#library-search")) return false;
    x_.typeText(text);
    return true;
}

std::vector<std::string> LibraryPanel::rowNames() {
    const picojson::value v =
        d_.execute("return [...document.querySelectorAll('#library-results li .name')].map((e) => "
                   "e.textContent)");
    std::vector<std::string> names;
    if (!v.is<picojson::array>()) return names;
    for (const auto& n : v.get<picojson::array>())
        names.push_back(n.to_str());
    return names;
}

std::string LibraryPanel::status() {
    return d_.execute("return document.getElementById('library-status').textContent").to_str();
}

bool LibraryPanel::screenPoint(const std::string& css, int& x, int& y) {
    return EditorPage(d_).screenPoint(css, x, y);
}

bool LibraryPanel::clickRow(size_t row, bool control) {
    int x = 0, y = 0;
    if (!screenPoint("#library-results li[data-index='" + std::to_string(row) + "'] .name", x, y))
        return false;
    x_.click(x, y, control);
    return true;
}

bool LibraryPanel::dragRowToSlot(size_t row, int slot) {
    int fromX = 0, fromY = 0, toX = 0, toY = 0;
    if (!screenPoint("#library-results li[data-index='" + std::to_string(row) + "'] .name", fromX,
                     fromY) ||
        !screenPoint("#slot-list li[data-slot='" + std::to_string(slot) + "']", toX, toY))
        return false;
    x_.drag(fromX, fromY, toX, toY);
    return true;
}

} // namespace kx5::e2e
