// The program's settings file ($XDG_CONFIG_HOME/velmar/<appName>/settings.ini):
// the page's "pref" text and the window placement. Every save replaces the
// file atomically, so a crash never leaves half a file behind. A file that
// is damaged (cut short, not text, not a settings file, a folder in its
// place) is renamed <name>.damaged-<date>-<time> and reported on standard
// error; the program then starts from the defaults and saves work again.
#pragma once

#include <memory>
#include <optional>
#include <string>

typedef struct _GKeyFile GKeyFile;

namespace kx5 {

class SettingsFile {
  public:
    // Loads the file when it exists; a missing file is empty, a damaged one
    // is set aside (above).
    explicit SettingsFile(std::string path);
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    std::optional<std::string> get(const std::string& group, const std::string& key) const;
    std::optional<int> getInt(const std::string& group, const std::string& key) const;
    void set(const std::string& group, const std::string& key, const std::string& value);
    void setInt(const std::string& group, const std::string& key, int value);
    // Writes the whole file (temp file, fsync, rename); false on failure.
    bool save();

    const std::string& path() const { return path_; }

  private:
    struct KeyFileFree {
        void operator()(GKeyFile* file) const;
    };
    std::string path_;
    std::unique_ptr<GKeyFile, KeyFileFree> file_;
    // Damaged, and it could not be moved aside: saving would destroy it.
    bool damagedInPlace_ = false;
};

// Where the settings file of a program lives.
std::string settingsFilePath(const std::string& configFolder);

} // namespace kx5
