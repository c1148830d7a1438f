#include "midi/sound_settings.h"

#include "bridge/glib_handles.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace kx5 {
namespace {

struct Panel {
    const char* desktop; // a word of XDG_CURRENT_DESKTOP, or nullptr
    std::vector<const char*> argv;
};

bool launch(const std::vector<const char*>& command) {
    const glib::Text program(g_find_program_in_path(command[0]));
    if (!program) return false;
    std::vector<gchar*> argv;
    argv.push_back(program.get());
    for (size_t i = 1; i < command.size(); ++i)
        argv.push_back(const_cast<gchar*>(command[i]));
    argv.push_back(nullptr);
    // Without G_SPAWN_DO_NOT_REAP_CHILD the child is reaped for us.
    return g_spawn_async(nullptr, argv.data(), nullptr,
                         GSpawnFlags(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                         nullptr, nullptr, nullptr, nullptr);
}

} // namespace

bool openSoundSettings() {
    static const std::vector<Panel> panels = {
        {"GNOME", {"gnome-control-center", "sound"}},
        {"KDE", {"systemsettings", "kcm_pulseaudio"}},
        {"XFCE", {"pavucontrol"}},
        {nullptr, {"pavucontrol"}},
        {nullptr, {"gnome-control-center", "sound"}},
        {nullptr, {"systemsettings", "kcm_pulseaudio"}},
    };
    const char* env = std::getenv("XDG_CURRENT_DESKTOP");
    const std::string desktops = env ? std::string(":") + env + ":" : std::string();
    for (const auto& p : panels) {
        if (p.desktop && desktops.find(std::string(":") + p.desktop + ":") == std::string::npos)
            continue;
        if (launch(p.argv)) return true;
    }
    return false;
}

} // namespace kx5
