#include "modules/app/settings_file.h"

#include "bridge/app_paths.h"

#include <glib.h>

namespace kx5 {

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)), file_(g_key_file_new()) {
    g_key_file_load_from_file(file_, path_.c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
}

SettingsFile::~SettingsFile() {
    g_key_file_free(file_);
}

std::optional<std::string> SettingsFile::get(const std::string& group,
                                             const std::string& key) const {
    gchar* v = g_key_file_get_string(file_, group.c_str(), key.c_str(), nullptr);
    if (!v) return std::nullopt;
    std::string out(v);
    g_free(v);
    return out;
}

std::optional<int> SettingsFile::getInt(const std::string& group, const std::string& key) const {
    GError* error = nullptr;
    const int v = g_key_file_get_integer(file_, group.c_str(), key.c_str(), &error);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    return v;
}

void SettingsFile::set(const std::string& group, const std::string& key, const std::string& value) {
    g_key_file_set_string(file_, group.c_str(), key.c_str(), value.c_str());
}

void SettingsFile::setInt(const std::string& group, const std::string& key, int value) {
    g_key_file_set_integer(file_, group.c_str(), key.c_str(), value);
}

bool SettingsFile::save() {
    const std::string folder = path_.substr(0, path_.find_last_of('/') + 1);
    if (!folder.empty() && !ensureFolder(folder)) return false;
    gsize length = 0;
    gchar* data = g_key_file_to_data(file_, &length, nullptr);
    if (!data) return false;
    const gboolean ok =
        g_file_set_contents_full(path_.c_str(), data, static_cast<gssize>(length),
                                 static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                                    G_FILE_SET_CONTENTS_DURABLE),
                                 0600, nullptr);
    g_free(data);
    return ok;
}

std::string settingsFilePath(const std::string& configFolder) {
    return configFolder + "settings.ini";
}

} // namespace kx5
