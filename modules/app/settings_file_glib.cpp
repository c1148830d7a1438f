#include "modules/app/settings_file.h"

#include "bridge/app_paths.h"
#include "bridge/glib_handles.h"

namespace kx5 {

void SettingsFile::KeyFileFree::operator()(GKeyFile* file) const {
    g_key_file_free(file);
}

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)), file_(g_key_file_new()) {
    g_key_file_load_from_file(file_.get(), path_.c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
}

std::optional<std::string> SettingsFile::get(const std::string& group,
                                             const std::string& key) const {
    const glib::Text v(g_key_file_get_string(file_.get(), group.c_str(), key.c_str(), nullptr));
    if (!v) return std::nullopt;
    return std::string(v.get());
}

std::optional<int> SettingsFile::getInt(const std::string& group, const std::string& key) const {
    GError* failure = nullptr;
    const int v = g_key_file_get_integer(file_.get(), group.c_str(), key.c_str(), &failure);
    const glib::Error error(failure);
    if (error) return std::nullopt;
    return v;
}

void SettingsFile::set(const std::string& group, const std::string& key, const std::string& value) {
    g_key_file_set_string(file_.get(), group.c_str(), key.c_str(), value.c_str());
}

void SettingsFile::setInt(const std::string& group, const std::string& key, int value) {
    g_key_file_set_integer(file_.get(), group.c_str(), key.c_str(), value);
}

bool SettingsFile::save() {
    const std::string folder = path_.substr(0, path_.find_last_of('/') + 1);
    if (!folder.empty() && !ensureFolder(folder)) return false;
    gsize length = 0;
    const glib::Text data(g_key_file_to_data(file_.get(), &length, nullptr));
    if (!data) return false;
    return g_file_set_contents_full(
        path_.c_str(), data.get(), static_cast<gssize>(length),
        static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                           G_FILE_SET_CONTENTS_DURABLE),
        0600, nullptr);
}

std::string settingsFilePath(const std::string& configFolder) {
    return configFolder + "settings.ini";
}

} // namespace kx5
