// The four "fs" calls that ask the user through a file or folder picker:
// "openfilename", "savefilename", "choosefolder" and "openmediafile". Each
// returns at once; the choice arrives later as exactly one event
// ("fs" / event name / path, the path empty when nothing was chosen).
#pragma once

#include "bridge/native_call.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kx5 {

class NativeObjects;

void runFileDialogCall(NativeObjects& objects, int32_t functionId, const Args& args,
                       CallResult& result);

enum class FileDialogKind { Open, Save, ChooseFolder };

// One entry of a dialog's type list: shown name and file-name patterns.
struct FileFilter {
    std::string name;
    std::vector<std::string> patterns; // "*.wav", "*"
    bool operator==(const FileFilter&) const = default;
};

struct FileDialogJob {
    FileDialogKind kind = FileDialogKind::Open;
    std::string eventName;
    std::vector<FileFilter> filters; // empty: every file
    std::string initialFolder;       // Open, ChooseFolder
    std::string proposedName;        // Save
    std::string extension;           // Save: default extension, without dot
    // Open: several files may be chosen; the answer is then a JSON array of
    // their paths (empty text when nothing was chosen).
    bool multiple = false;
};

// An open dialog for several files, shown from the UI loop; answer runs
// exactly once (on the UI thread) with the chosen paths, none when the user
// cancelled or no dialog could be shown.
void showOpenFilesDialog(NativeObjects& objects, std::vector<FileFilter> filters,
                         std::string initialFolder,
                         std::function<void(std::vector<std::string>)> answer);

// Builds the job of a dialog call; throws on a malformed filter.
FileDialogJob fileDialogJobFor(int32_t functionId, const Args& args);

// The filter text of "openfilename": "wav/aif" U+000C "*.wav;*.aif" U+000C,
// or empty. Throws unless filterJson is a JSON array of strings.
std::string openFilterText(const std::string& filterJson);
// The save dialog's filter text for an extension (may be empty).
std::string saveFilterText(const std::string& extension);
// Name/pattern pairs of a filter text (patterns separated by ";").
std::vector<FileFilter> filtersFromText(const std::string& filterText);

// The save dialog's rule: a chosen name without an extension gets the
// default one.
std::string withDefaultExtension(const std::string& path, const std::string& extension);
// A chosen folder always ends in "/".
std::string folderWithSlash(const std::string& path);

// Shows pickers (the window program installs one). show() must call answer
// at most once, from the UI thread; a job whose answer is dropped unanswered
// is reported as cancelled.
class FileDialogPresenter {
  public:
    using Answer = std::function<void(const std::string& path)>;
    virtual ~FileDialogPresenter() = default;
    virtual void show(const FileDialogJob& job, Answer answer) = 0;
};

// Installs a presenter for its own lifetime. Without one every dialog call
// is answered at once as cancelled.
class FileDialogPresenterScope {
  public:
    explicit FileDialogPresenterScope(FileDialogPresenter& presenter);
    ~FileDialogPresenterScope();
    FileDialogPresenterScope(const FileDialogPresenterScope&) = delete;
    FileDialogPresenterScope& operator=(const FileDialogPresenterScope&) = delete;

  private:
    FileDialogPresenter* previous_;
};

} // namespace kx5
