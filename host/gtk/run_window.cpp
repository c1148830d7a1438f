// The windowed program: one instance per user and program name, the page
// bundle, the web view host, the window, and the main loop until the window
// is closed (by the user, the page, SIGTERM or SIGINT).
#include "bridge/glib_handles.h"
#include "bridge/javascript_interface.h"
#include "bridge/ui_queue_glib.h"
#include "host/bundle_install.h"
#include "host/entry.h"
#include "host/gtk/document_policy.h"
#include "host/gtk/file_dialogs_gtk.h"
#include "host/gtk/main_window.h"
#include "host/gtk/program_options.h"
#include "host/gtk/resume_watch.h"
#include "host/gtk/single_instance.h"
#include "host/gtk/web_view_host.h"
#include "modules/app/settings_file.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace kx5 {
namespace {

std::string executableFolder() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string path(buf, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

// WebKit loads the bridge's web extension from a folder of its own: next to
// the program in the build tree, or where the installation puts it (relative
// to the program, so an unpacked or relocated installation finds it too).
std::string webExtensionFolder() {
    const std::string exe = executableFolder();
    const std::string installed = exe + KX5_WEB_EXTENSION_FROM_BINDIR;
    if (g_file_test(installed.c_str(), G_FILE_TEST_IS_DIR)) return installed;
    return exe + "webkit-extensions";
}

// The start page of a bundle folder given on the command line (it holds
// html/index.html like the installed one).
std::string startUrlOfFolder(const std::string& folder) {
    char* real = realpath(folder.c_str(), nullptr);
    if (!real) return "about:blank";
    std::string index = std::string(real) + "/html/index.html";
    free(real);
    const glib::Text uri(g_filename_to_uri(index.c_str(), nullptr, nullptr));
    return uri ? uri.get() : "about:blank";
}

void postOpenEvents(JavaScriptInterface& js, const std::vector<std::string>& paths) {
    for (const auto& p : paths)
        js.postEvent(eventText({"app", "command", "open", p}));
}

gboolean closeOnSignal(gpointer window) {
    static_cast<MainWindow*>(window)->close();
    return G_SOURCE_CONTINUE;
}

} // namespace

void takeToolkitArguments(int& argc, char**& argv) {
    gtk_parse_args(&argc, &argv);
}

int runWindow(const std::string& appName, const HostOptions& hostOptions, int argc, char** argv) {
    const ProgramOptions options =
        parseProgramOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.error.empty()) {
        std::fprintf(stderr, "%s\n", options.error.c_str());
        return 2;
    }
    g_set_prgname(appName.c_str());
    const AppPaths paths = AppPaths::forApp(appName);

    SingleInstance instance(paths.tempFolder);
    if (!instance.acquire()) {
        // Another start runs: it takes our arguments and comes forward.
        if (instance.handOver(options.paths)) return 0;
        // It went away meanwhile: carry on as the first one if we can.
        if (!instance.acquire()) return 0;
    }

    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "%s: cannot open the display\n", appName.c_str());
        return 1;
    }

    WebViewOptions viewOptions;
    viewOptions.startUrl = options.bundleFolder.empty() ? installBundle(paths)
                                                        : startUrlOfFolder(options.bundleFolder);
    viewOptions.bundleFolder = bundleFolderOf(viewOptions.startUrl);
    viewOptions.extensionFolder = webExtensionFolder();
    viewOptions.developerTools = options.developerTools;
    viewOptions.automation = options.automation;

    const glib::MainLoop mainLoop(g_main_loop_new(nullptr, FALSE));
    GMainLoop* loop = mainLoop.get();
    int status = 0;
    {
        GlibUiQueue ui;
        WebViewHost host(ui, paths, hostOptions, viewOptions);
        if (!host.bridgeReady())
            std::fprintf(stderr, "%s: the page bridge could not be set up\n", appName.c_str());
        MainWindow window(host, settingsFilePath(paths.configFolder),
                          [loop] { g_main_loop_quit(loop); });
        instance.listen([&](std::vector<std::string> arguments) {
            postOpenEvents(host, arguments);
            window.present();
        });
        GtkFileDialogs dialogs(window.window());
        FileDialogPresenterScope dialogScope(dialogs);
        ResumeWatch resume([&host] {
            host.postEvent(eventText({"app", "command", "wakeup", "PBT_APMRESUMESUSPEND"}));
        });
        const guint term = g_unix_signal_add(SIGTERM, closeOnSignal, &window);
        const guint interrupt = g_unix_signal_add(SIGINT, closeOnSignal, &window);

        window.show();
        host.start();
        // Our own arguments wait in the queue until the page starts delivery.
        postOpenEvents(host, options.paths);
        g_main_loop_run(loop);

        g_source_remove(term);
        g_source_remove(interrupt);
        // Workers may still wait on the UI thread: release them before the
        // modules are torn down and their threads joined.
        ui.close();
        host.shutdownModules();
    }
    return status;
}

} // namespace kx5
