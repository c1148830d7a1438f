#include "modules/fs/file_operations.h"

#include "bridge/glib_handles.h"

namespace kx5 {

void openWithDefaultApplication(const std::string& fileOrUrl) {
    if (fileOrUrl.empty()) return;
    const glib::Text scheme(g_uri_parse_scheme(fileOrUrl.c_str()));
    std::string uri = fileOrUrl;
    if (!scheme) {
        const glib::Ref<GFile> file(g_file_new_for_path(fileOrUrl.c_str()));
        uri = glib::Text(g_file_get_uri(file.get())).get();
    }
    // Failing to launch is not reported (the call answers nothing).
    GError* failure = nullptr;
    g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &failure);
    const glib::Error error(failure);
}

} // namespace kx5
