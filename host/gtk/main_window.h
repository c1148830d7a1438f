// The program's one window: hosts the web view, keeps its placement in the
// settings file, enforces the minimum size and shows a notice with a reload
// button when the page's process has died.
#pragma once

#include "host/gtk/window_placement.h"

#include <functional>
#include <memory>
#include <string>

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace kx5 {

class SettingsFile;
class WebViewHost;

class MainWindow {
  public:
    // onDestroyed runs once the window is gone (the loop may end then).
    MainWindow(WebViewHost& host, std::string settingsPath, std::function<void()> onDestroyed);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    void show();
    // Brings the window forward, restoring it when minimized.
    void present();
    // Closes the way the user closing the window does: the page may keep
    // the window open (and closes it itself once the user agrees);
    // placement saved, window destroyed.
    void close();
    GtkWindow* window() const;

  private:
    friend struct MainWindowSignals;
    void restorePlacement();
    void savePlacement();
    void applyMinimumSize();
    void rememberNormalRect();
    void showCrashNotice(const std::string& message);

    WebViewHost& host_;
    std::string settingsPath_;
    std::function<void()> onDestroyed_;
    GtkWidget* window_ = nullptr;
    GtkWidget* infoBar_ = nullptr;
    GtkWidget* infoLabel_ = nullptr;
    WindowPlacement normal_;
    bool maximized_ = false;
    bool destroyed_ = false;
    bool closeAllowed_ = false;
};

} // namespace kx5
