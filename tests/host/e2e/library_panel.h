// What a user does on the editor's IR library panel, through WebDriver and
// real pointer and key input (XTest): add a folder with the folder dialog,
// type a search, pick rows, drag them onto a slot.
#pragma once

#include "tests/host/e2e/web_driver.h"
#include "tests/host/e2e/x11_session.h"

#include <string>
#include <vector>

namespace kx5::e2e {

class LibraryPanel {
  public:
    LibraryPanel(WebDriver& driver, X11Session& x) : d_(driver), x_(x) {}

    // Add folder…, then the path typed into the folder dialog.
    bool addFolder(const std::string& folder, int timeoutMs);
    // The panel lists this many rows and no scan is running.
    bool waitRows(size_t count, int timeoutMs);
    // Clicks into the search box and types (plain ASCII), key by key.
    bool typeSearch(const std::string& text);
    std::vector<std::string> rowNames();
    std::string status();
    // Clicks a row (0-based); with Control it is added to the selection.
    bool clickRow(size_t row, bool control = false);
    // Drags the row (and the other selected rows) onto a slot (0-based).
    bool dragRowToSlot(size_t row, int slot);

  private:
    // The centre of the element on the screen.
    bool screenPoint(const std::string& css, int& x, int& y);

    WebDriver& d_;
    X11Session& x_;
};

} // namespace kx5::e2e
