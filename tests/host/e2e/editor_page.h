// What a user does on the editor page, done through WebDriver: wait for the
// unit, answer the page's dialogs by their button labels, load a file that
// was handed to the program into a slot.
#pragma once

#include "tests/host/e2e/web_driver.h"

#include <optional>
#include <string>

namespace kx5::e2e {

class EditorPage {
  public:
    explicit EditorPage(WebDriver& driver) : d_(driver) {}

    // The link state shows a connected unit.
    bool waitConnected(int timeoutMs);
    // The text of the link state line ("connected", "error", "busy"...).
    std::string linkState();
    // The page's modal dialog is open with this title.
    bool waitDialog(const std::string& title, int timeoutMs);
    bool dialogOpen();
    std::string dialogTitle();
    std::string dialogText();
    // Clicks the open dialog's button with this label; false when none.
    bool press(const std::string& label);
    // Clicks a page button found by CSS selector.
    bool click(const std::string& css);
    // A WAV file handed to the program (a later start or a drop): picks the
    // slot (0-based), confirms, answers the channel question of a stereo
    // file (0 left, 1 right) and waits for the end. Returns the title of the
    // last dialog ("Finished" or the error's), empty when nothing came.
    std::string loadHandedFile(int slot, std::optional<int> channel, int timeoutMs);
    // The same up to the point where the load runs; false when a dialog
    // did not come.
    bool startHandedFile(int slot, std::optional<int> channel, int timeoutMs);
    // Waits until the progress dialog shows this phase ("Writing to the
    // unit", "Reading from the unit"...) at percent or more.
    bool waitProgress(const std::string& phase, int percent, int timeoutMs);
    // Waits until a transfer's progress dialog has given way to a message;
    // its title, empty when nothing came.
    std::string waitTransferEnd(int timeoutMs);
    // The slot list's state of a slot: "0" empty, "1" loaded, "2" invalid,
    // "incomplete".
    std::string slotState(int slot);
    // The slot's name and file name as the slot list shows them.
    std::string slotName(int slot);
    std::string slotFile(int slot);
    // A point of the element on the screen, as fractions of its width and
    // height from its top left corner (scrolled into view first); false
    // when there is no such element.
    bool screenPoint(const std::string& css, int& x, int& y, double across = 0.5,
                     double down = 0.5);

  private:
    WebDriver& d_;
};

} // namespace kx5::e2e
