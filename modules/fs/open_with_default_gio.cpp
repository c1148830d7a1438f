#include "modules/fs/file_operations.h"

#include <gio/gio.h>

#include <memory>

namespace kx5 {

void openWithDefaultApplication(const std::string& fileOrUrl) {
    if (fileOrUrl.empty()) return;
    std::unique_ptr<char, decltype(&g_free)> scheme(g_uri_parse_scheme(fileOrUrl.c_str()), g_free);
    std::string uri = fileOrUrl;
    if (!scheme) {
        std::unique_ptr<GFile, decltype(&g_object_unref)> file(
            g_file_new_for_path(fileOrUrl.c_str()), g_object_unref);
        std::unique_ptr<char, decltype(&g_free)> fileUri(g_file_get_uri(file.get()), g_free);
        uri = fileUri.get();
    }
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error)) g_clear_error(&error);
}

} // namespace kx5
