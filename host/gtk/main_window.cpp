#include "host/gtk/main_window.h"

#include "host/gtk/web_view_host.h"
#include "modules/app/settings_file.h"

#include <gtk/gtk.h>

namespace kx5 {
namespace {

// The work area of the monitor at (or nearest to) the point, or of the
// primary monitor; empty when the display names none.
Rect workAreaNear(GtkWidget* window, int x, int y, bool havePosition) {
    GdkDisplay* display = gtk_widget_get_display(window);
    GdkMonitor* monitor = havePosition ? gdk_display_get_monitor_at_point(display, x, y)
                                       : gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    if (!monitor) return {};
    GdkRectangle area{};
    gdk_monitor_get_workarea(monitor, &area);
    return {area.x, area.y, area.width, area.height};
}

Size sizeOf(const Rect& r) {
    return {r.width, r.height};
}

} // namespace

struct MainWindowSignals {
    // The page has its say first (unsaved edits); the window closes once
    // it lets it.
    static gboolean deleteEvent(GtkWidget*, GdkEvent*, MainWindow* self) {
        if (!self->closeAllowed_) {
            self->host_.askPageToClose();
            return TRUE;
        }
        self->savePlacement();
        return FALSE;
    }
    static void destroy(GtkWidget*, MainWindow* self) {
        self->destroyed_ = true;
        self->window_ = nullptr;
        self->host_.detachView();
        if (self->onDestroyed_) self->onDestroyed_();
    }
    static gboolean configure(GtkWidget*, GdkEvent*, MainWindow* self) {
        self->rememberNormalRect();
        return FALSE;
    }
    static gboolean windowState(GtkWidget*, GdkEventWindowState* event, MainWindow* self) {
        self->maximized_ = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
        self->rememberNormalRect();
        return FALSE;
    }
    static void infoResponse(GtkInfoBar* bar, int, MainWindow* self) {
        gtk_widget_hide(GTK_WIDGET(bar));
        self->host_.reload();
    }
};

MainWindow::MainWindow(WebViewHost& host, std::string settingsPath,
                       std::function<void()> onDestroyed)
    : host_(host), settingsPath_(std::move(settingsPath)), onDestroyed_(std::move(onDestroyed)) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), "");

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    infoBar_ = gtk_info_bar_new_with_buttons("_Reload", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_info_bar_set_message_type(GTK_INFO_BAR(infoBar_), GTK_MESSAGE_WARNING);
    infoLabel_ = gtk_label_new("");
    gtk_label_set_line_wrap(GTK_LABEL(infoLabel_), TRUE);
    gtk_container_add(GTK_CONTAINER(gtk_info_bar_get_content_area(GTK_INFO_BAR(infoBar_))),
                      infoLabel_);
    gtk_widget_set_no_show_all(infoBar_, TRUE);
    g_signal_connect(infoBar_, "response", G_CALLBACK(MainWindowSignals::infoResponse), this);
    gtk_box_pack_start(GTK_BOX(box), infoBar_, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), host_.widget(), TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window_), box);

    g_signal_connect(window_, "delete-event", G_CALLBACK(MainWindowSignals::deleteEvent), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(MainWindowSignals::destroy), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(MainWindowSignals::configure), this);
    g_signal_connect(window_, "window-state-event", G_CALLBACK(MainWindowSignals::windowState),
                     this);

    host_.onTitleChanged = [this](const std::string& title) {
        if (window_) gtk_window_set_title(GTK_WINDOW(window_), title.c_str());
    };
    host_.onCloseRequested = [this] { close(); };
    host_.onCloseAllowed = [this] {
        closeAllowed_ = true;
        close();
    };
    host_.onPageCrashed = [this](const std::string& message) { showCrashNotice(message); };
    host_.onPageShown = [this] {
        if (infoBar_) gtk_widget_hide(infoBar_);
    };

    restorePlacement();
    applyMinimumSize();
}

MainWindow::~MainWindow() {
    host_.onTitleChanged = nullptr;
    host_.onCloseRequested = nullptr;
    host_.onCloseAllowed = nullptr;
    host_.onPageCrashed = nullptr;
    host_.onPageShown = nullptr;
    if (window_) {
        g_signal_handlers_disconnect_by_data(window_, this);
        gtk_widget_destroy(window_);
        host_.detachView();
    }
}

GtkWindow* MainWindow::window() const {
    return window_ ? GTK_WINDOW(window_) : nullptr;
}

void MainWindow::show() {
    if (window_) gtk_widget_show_all(window_);
}

void MainWindow::present() {
    if (!window_) return;
    gtk_window_deiconify(GTK_WINDOW(window_));
    gtk_window_present(GTK_WINDOW(window_));
}

void MainWindow::close() {
    if (window_) gtk_window_close(GTK_WINDOW(window_));
}

void MainWindow::restorePlacement() {
    SettingsFile settings(settingsPath_);
    const WindowPlacement saved = WindowPlacement::load(settings);
    const bool havePosition = saved.x && saved.y;
    const Rect area = workAreaNear(window_, saved.x.value_or(0), saved.y.value_or(0), havePosition);
    const Size size = initialSize(saved, sizeOf(area));
    gtk_window_set_default_size(GTK_WINDOW(window_), size.width, size.height);
    normal_ = saved;
    if (havePosition) {
        // A place saved on a monitor that is gone (or written by hand) is
        // brought back onto the screen, and saved so.
        const Point at = clampToWorkArea({*saved.x, *saved.y}, size, area);
        gtk_window_move(GTK_WINDOW(window_), at.x, at.y);
        normal_.x = at.x;
        normal_.y = at.y;
    }
    normal_.width = size.width;
    normal_.height = size.height;
    if (saved.maximized) gtk_window_maximize(GTK_WINDOW(window_));
}

void MainWindow::applyMinimumSize() {
    int x = 0, y = 0;
    gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
    const Size minimum =
        limitToWorkArea(kMinimumClientSize, sizeOf(workAreaNear(window_, x, y, true)));
    GdkGeometry hints{};
    hints.min_width = minimum.width;
    hints.min_height = minimum.height;
    gtk_window_set_geometry_hints(GTK_WINDOW(window_), nullptr, &hints, GDK_HINT_MIN_SIZE);
}

// The rectangle to save is the normal one, also while maximized.
void MainWindow::rememberNormalRect() {
    if (!window_ || !gtk_widget_get_realized(window_)) return;
    GdkWindowState state = gdk_window_get_state(gtk_widget_get_window(window_));
    if (state & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN |
                 GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_TILED))
        return;
    int x = 0, y = 0, w = 0, h = 0;
    gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
    gtk_window_get_size(GTK_WINDOW(window_), &w, &h);
    normal_.x = x;
    normal_.y = y;
    normal_.width = w;
    normal_.height = h;
}

void MainWindow::savePlacement() {
    rememberNormalRect();
    WindowPlacement p = normal_;
    p.maximized = maximized_;
    SettingsFile settings(settingsPath_);
    p.store(settings);
    settings.save();
}

void MainWindow::showCrashNotice(const std::string& message) {
    if (!window_) return;
    gtk_label_set_text(GTK_LABEL(infoLabel_), (message + " Reload it to continue.").c_str());
    gtk_widget_set_no_show_all(infoBar_, FALSE);
    gtk_widget_show_all(infoBar_);
}

} // namespace kx5
