#include "modules/app/settings_file.h"

#include "bridge/app_paths.h"
#include "bridge/glib_handles.h"
#include "modules/app/replace_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace kx5 {
namespace {

// Why a settings file that exists cannot be used (empty: it can).
std::string damageOf(const std::string& path, GKeyFile* into) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    if (!S_ISREG(st.st_mode)) return "it is not a file";
    gchar* bytes = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &bytes, &length, nullptr)) return "it cannot be read";
    const glib::Text data(bytes);
    // Every save ends with a line feed and holds only UTF-8 text.
    if (length > 0 && data.get()[length - 1] != '\n') return "it is cut short";
    if (!g_utf8_validate_len(data.get(), length, nullptr))
        return "it holds bytes that are not text";
    if (!g_key_file_load_from_data(into, data.get(), length, G_KEY_FILE_KEEP_COMMENTS, nullptr))
        return "it does not read as a settings file";
    return {};
}

// <path>.damaged-YYYYMMDD-HHMMSS (and -2, -3... when that is taken).
std::string asideName(const std::string& path) {
    char stamp[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = path + ".damaged-" + stamp;
    std::string name = base;
    struct stat st {};
    for (int n = 2; lstat(name.c_str(), &st) == 0 && n < 1000; ++n)
        name = base + "-" + std::to_string(n);
    return name;
}

} // namespace

void SettingsFile::KeyFileFree::operator()(GKeyFile* file) const {
    g_key_file_free(file);
}

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)), file_(g_key_file_new()) {
    const std::string damage = damageOf(path_, file_.get());
    if (damage.empty()) return;
    // Nothing of a damaged file is taken over, and it is never written over:
    // it is kept aside for the user, and the program goes on with defaults.
    file_.reset(g_key_file_new());
    const std::string aside = asideName(path_);
    if (::rename(path_.c_str(), aside.c_str()) == 0) {
        std::fprintf(stderr,
                     "settings: %s is damaged (%s); it was kept as %s and the default settings "
                     "are used\n",
                     path_.c_str(), damage.c_str(), aside.c_str());
        return;
    }
    damagedInPlace_ = true;
    std::fprintf(stderr,
                 "settings: %s is damaged (%s) and cannot be moved aside (%s); the default "
                 "settings are used and nothing is saved\n",
                 path_.c_str(), damage.c_str(), std::strerror(errno));
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
    if (damagedInPlace_) return false;
    const std::string folder = path_.substr(0, path_.find_last_of('/') + 1);
    if (!folder.empty() && !ensureFolder(folder)) return false;
    gsize length = 0;
    const glib::Text data(g_key_file_to_data(file_.get(), &length, nullptr));
    if (!data) return false;
    return replaceFile(path_, std::string_view(data.get(), length));
}

std::string settingsFilePath(const std::string& configFolder) {
    return configFolder + "settings.ini";
}

} // namespace kx5
