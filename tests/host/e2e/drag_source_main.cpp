// Drags local files from a window of its own onto a point of the screen,
// with real pointer input (XTest), like a user dragging from a file manager.
// Usage: e2e_drag_source X Y drop|leave FILE...
// Exits 0 when the drop was accepted (drop) or the drag ended (leave).
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Drag {
    int targetX = 0, targetY = 0;
    bool drop = true;
    std::vector<std::string> uris;
    GtkWidget* window = nullptr;
    int step = 0;
    int status = 1;
};

constexpr int kSourceX = 1180, kSourceY = 700;

void move(int x, int y) {
    Display* d = gdk_x11_get_default_xdisplay();
    XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
    XFlush(d);
}

void button(bool down) {
    Display* d = gdk_x11_get_default_xdisplay();
    XTestFakeButtonEvent(d, 1, down ? True : False, CurrentTime);
    XFlush(d);
}

// One input step per tick, so both sides' main loops see every motion.
gboolean nextStep(gpointer data) {
    auto* drag = static_cast<Drag*>(data);
    const int s = drag->step++;
    constexpr int kMoves = 20;
    if (s == 0) {
        move(kSourceX + 20, kSourceY + 20);
    } else if (s == 1) {
        button(true);
    } else if (s < 2 + kMoves) {
        const double t = double(s - 1) / kMoves;
        move(int(kSourceX + 20 + (drag->targetX - kSourceX - 20) * t),
             int(kSourceY + 20 + (drag->targetY - kSourceY - 20) * t));
    } else if (s < 2 + kMoves + 10) {
        // Linger over the target so it can ask for the data.
        move(drag->targetX + (s % 2), drag->targetY);
    } else if (s == 2 + kMoves + 10 && !drag->drop) {
        move(kSourceX + 20, kSourceY + 20);
    } else if (s == 2 + kMoves + 11) {
        button(false);
    } else if (s > 2 + kMoves + 200) {
        gtk_main_quit(); // no end of drag seen
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

void dataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer user) {
    auto* drag = static_cast<Drag*>(user);
    std::vector<char*> uris;
    for (auto& u : drag->uris)
        uris.push_back(u.data());
    uris.push_back(nullptr);
    gtk_selection_data_set_uris(data, uris.data());
}

void dragEnd(GtkWidget*, GdkDragContext* context, gpointer user) {
    auto* drag = static_cast<Drag*>(user);
    drag->status = (!drag->drop || gdk_drag_drop_succeeded(context)) ? 0 : 3;
    gtk_main_quit();
}

gboolean begin(gpointer data) {
    g_timeout_add(40, nextStep, data);
    return G_SOURCE_REMOVE;
}

} // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc < 5) return 2;
    Drag drag;
    drag.targetX = std::atoi(argv[1]);
    drag.targetY = std::atoi(argv[2]);
    drag.drop = std::string(argv[3]) == "drop";
    for (int i = 4; i < argc; ++i) {
        char* uri = g_filename_to_uri(argv[i], nullptr, nullptr);
        if (uri) drag.uris.emplace_back(uri);
        g_free(uri);
    }
    drag.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(drag.window), "drag source");
    gtk_window_set_default_size(GTK_WINDOW(drag.window), 80, 80);
    gtk_window_move(GTK_WINDOW(drag.window), kSourceX, kSourceY);
    GtkWidget* area = gtk_event_box_new();
    gtk_container_add(GTK_CONTAINER(drag.window), area);
    GtkTargetEntry target{const_cast<char*>("text/uri-list"), 0, 0};
    gtk_drag_source_set(area, GDK_BUTTON1_MASK, &target, 1, GDK_ACTION_COPY);
    g_signal_connect(area, "drag-data-get", G_CALLBACK(dataGet), &drag);
    g_signal_connect(area, "drag-end", G_CALLBACK(dragEnd), &drag);
    gtk_widget_show_all(drag.window);
    g_timeout_add(500, begin, &drag);
    gtk_main();
    return drag.status;
}
