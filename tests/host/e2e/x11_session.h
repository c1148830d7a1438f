// Looks at and types into the windows on the test's X display, as a user
// would (XTest events go through the X server like real input).
#pragma once

#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace kx5::e2e {

class X11Session {
  public:
    explicit X11Session(const std::string& display);
    ~X11Session();
    X11Session(const X11Session&) = delete;
    X11Session& operator=(const X11Session&) = delete;
    bool ok() const { return display_ != nullptr; }

    // Titles of the mapped top-level windows.
    std::vector<std::string> windowTitles();
    // Waits until a mapped top-level window has this title.
    bool waitForWindow(const std::string& title, int timeoutMs);
    // Waits until no mapped top-level window has this title.
    bool waitForWindowGone(const std::string& title, int timeoutMs);
    // Moves the pointer into that window and gives it the keyboard.
    bool focusWindow(const std::string& title);
    void typeText(const std::string& text);
    void pressKey(const char* keysymName, bool control = false);
    // The first button at a point of the screen, with Control held when asked.
    void click(int x, int y, bool control = false);
    // Presses at one point, moves to the other in small steps, lingers so
    // the target can ask for the data, and lets go.
    void drag(int fromX, int fromY, int toX, int toY);

  private:
    unsigned long findWindow(const std::string& title);
    Display* display_ = nullptr;
};

} // namespace kx5::e2e
