#include "tests/host/e2e/x11_session.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <thread>

namespace kx5::e2e {
namespace {

std::string titleOf(Display* d, Window w) {
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        return title;
    }
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

void pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

// Windows come and go while we look at them: errors about vanished windows
// are expected and ignored.
static int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

X11Session::X11Session(const std::string& display) {
    XSetErrorHandler(ignoreErrors);
    display_ = XOpenDisplay(display.c_str());
}

X11Session::~X11Session() {
    if (display_) XCloseDisplay(display_);
}

unsigned long X11Session::findWindow(const std::string& title) {
    Window root = DefaultRootWindow(display_), parent, *children = nullptr;
    unsigned int n = 0;
    Window found = 0;
    if (!XQueryTree(display_, root, &root, &parent, &children, &n)) return 0;
    for (unsigned int i = 0; i < n && !found; ++i) {
        XWindowAttributes attrs;
        if (XGetWindowAttributes(display_, children[i], &attrs) && attrs.map_state == IsViewable &&
            titleOf(display_, children[i]) == title)
            found = children[i];
    }
    if (children) XFree(children);
    return found;
}

std::vector<std::string> X11Session::windowTitles() {
    std::vector<std::string> titles;
    Window root = DefaultRootWindow(display_), parent, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(display_, root, &root, &parent, &children, &n)) return titles;
    for (unsigned int i = 0; i < n; ++i) {
        XWindowAttributes attrs;
        if (XGetWindowAttributes(display_, children[i], &attrs) && attrs.map_state == IsViewable)
            titles.push_back(titleOf(display_, children[i]));
    }
    if (children) XFree(children);
    return titles;
}

bool X11Session::waitForWindow(const std::string& title, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!findWindow(title)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        pause(50);
    }
    return true;
}

bool X11Session::waitForWindowGone(const std::string& title, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (findWindow(title)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        pause(50);
    }
    return true;
}

bool X11Session::focusWindow(const std::string& title) {
    const Window w = findWindow(title);
    if (!w) return false;
    XWindowAttributes attrs;
    XGetWindowAttributes(display_, w, &attrs);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display_, w, DefaultRootWindow(display_), attrs.width / 2,
                          attrs.height / 2, &x, &y, &child);
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    XRaiseWindow(display_, w);
    XSetInputFocus(display_, w, RevertToPointerRoot, CurrentTime);
    XSync(display_, False);
    pause(200);
    return true;
}

void X11Session::pressKey(const char* keysymName, bool control) {
    const KeyCode key = XKeysymToKeycode(display_, XStringToKeysym(keysymName));
    const KeyCode ctrl = XKeysymToKeycode(display_, XK_Control_L);
    if (control) XTestFakeKeyEvent(display_, ctrl, True, CurrentTime);
    XTestFakeKeyEvent(display_, key, True, CurrentTime);
    XTestFakeKeyEvent(display_, key, False, CurrentTime);
    if (control) XTestFakeKeyEvent(display_, ctrl, False, CurrentTime);
    XSync(display_, False);
    pause(30);
}

// Plain ASCII text: each character through its key, with Shift when needed.
void X11Session::typeText(const std::string& text) {
    const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
    for (char c : text) {
        const KeySym sym = static_cast<unsigned char>(c);
        const KeyCode key = XKeysymToKeycode(display_, sym);
        if (!key) continue;
        const bool needShift = XkbKeycodeToKeysym(display_, key, 0, 0) != sym;
        if (needShift) XTestFakeKeyEvent(display_, shift, True, CurrentTime);
        XTestFakeKeyEvent(display_, key, True, CurrentTime);
        XTestFakeKeyEvent(display_, key, False, CurrentTime);
        if (needShift) XTestFakeKeyEvent(display_, shift, False, CurrentTime);
        XSync(display_, False);
        pause(5);
    }
}

void X11Session::click(int x, int y, bool control) {
    const KeyCode ctrl = XKeysymToKeycode(display_, XK_Control_L);
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    if (control) XTestFakeKeyEvent(display_, ctrl, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    if (control) XTestFakeKeyEvent(display_, ctrl, False, CurrentTime);
    XSync(display_, False);
    pause(100);
}

void X11Session::drag(int fromX, int fromY, int toX, int toY) {
    constexpr int kSteps = 25;
    XTestFakeMotionEvent(display_, -1, fromX, fromY, CurrentTime);
    XSync(display_, False);
    pause(100);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XSync(display_, False);
    pause(100);
    for (int i = 1; i <= kSteps; ++i) {
        XTestFakeMotionEvent(display_, -1, fromX + (toX - fromX) * i / kSteps,
                             fromY + (toY - fromY) * i / kSteps, CurrentTime);
        XSync(display_, False);
        pause(40);
    }
    for (int i = 0; i < 10; ++i) {
        XTestFakeMotionEvent(display_, -1, toX + (i % 2), toY, CurrentTime);
        XSync(display_, False);
        pause(40);
    }
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XSync(display_, False);
    pause(200);
}

} // namespace kx5::e2e
