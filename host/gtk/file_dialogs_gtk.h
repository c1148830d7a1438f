// File and folder pickers for the "fs" dialog calls: GtkFileChooserNative
// (the desktop portal where there is one, GTK's own dialog otherwise), modal
// to the main window, answered asynchronously from the main loop.
#pragma once

#include "modules/fs/file_dialogs.h"

#include <memory>
#include <vector>

typedef struct _GtkWindow GtkWindow;

namespace kx5 {

class GtkFileDialogs final : public FileDialogPresenter {
  public:
    explicit GtkFileDialogs(GtkWindow* parent);
    // Dialogs still open are closed; their jobs end as cancelled.
    ~GtkFileDialogs() override;
    GtkFileDialogs(const GtkFileDialogs&) = delete;
    GtkFileDialogs& operator=(const GtkFileDialogs&) = delete;

    void show(const FileDialogJob& job, Answer answer) override;

    struct Open;

  private:
    friend struct FileDialogSignals;
    void finish(Open* dialog, const std::string& path);
    void close(Open& dialog);

    GtkWindow* parent_;
    std::vector<std::unique_ptr<Open>> open_;
};

// "*.wav" as a pattern that matches any letter case ("*.[wW][aA][vV]").
std::string caseInsensitivePattern(const std::string& pattern);

} // namespace kx5
