#include "modules/fs/file_dialogs.h"

#include "bridge/call_arguments.h"
#include "bridge/javascript_interface.h"
#include "bridge/json_parse.h"
#include "bridge/native_objects.h"
#include "bridge/ui_queue.h"

#include <picojson.h>

#include <memory>
#include <stdexcept>

namespace kx5 {
namespace {

enum DialogId : int32_t {
    OpenFileName = 17,
    SaveFileName = 18,
    ChooseFolder = 19,
    OpenMediaFile = 21
};

// Only the UI thread installs and uses the presenter.
FileDialogPresenter* currentPresenter = nullptr;

// Posts the job's one event: with the chosen path, or, when the job ends
// without an answer (no presenter, shut down, dropped), with an empty path.
class OneAnswer {
  public:
    OneAnswer(JavaScriptInterface& js, FileDialogJob job) : js_(js), job_(std::move(job)) {}
    ~OneAnswer() { give(""); }
    OneAnswer(const OneAnswer&) = delete;
    OneAnswer& operator=(const OneAnswer&) = delete;

    void give(const std::string& path) {
        if (given_) return;
        given_ = true;
        std::string chosen = path;
        if (!chosen.empty() && job_.kind == FileDialogKind::ChooseFolder)
            chosen = folderWithSlash(chosen);
        js_.postEvent(eventText({"fs", job_.eventName, chosen}));
    }
    const FileDialogJob& job() const { return job_; }

  private:
    JavaScriptInterface& js_;
    FileDialogJob job_;
    bool given_ = false;
};

} // namespace

std::string openFilterText(const std::string& filterJson) {
    picojson::value v;
    const std::string err = parseJson(v, filterJson);
    if (!err.empty() || !v.is<picojson::array>())
        throw std::invalid_argument("filter is not an array");
    std::string display, pattern;
    for (const auto& e : v.get<picojson::array>()) {
        if (!e.is<std::string>()) throw std::invalid_argument("filter entry is not a string");
        display += e.get<std::string>() + "/";
        pattern += "*." + e.get<std::string>() + ";";
    }
    if (display.empty()) return {};
    display.pop_back();
    pattern.pop_back();
    return display + '\f' + pattern + '\f';
}

std::string saveFilterText(const std::string& extension) {
    if (extension.empty()) return "*\f*\f";
    return extension + "\f*." + extension + "\f*\f*\f";
}

std::vector<FileFilter> filtersFromText(const std::string& filterText) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = filterText.find('\f'); i != std::string::npos;
         i = filterText.find('\f', start)) {
        parts.push_back(filterText.substr(start, i - start));
        start = i + 1;
    }
    std::vector<FileFilter> filters;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        FileFilter f{parts[i], {}};
        size_t s = 0;
        const std::string& p = parts[i + 1];
        for (size_t j = p.find(';');; j = p.find(';', s)) {
            const std::string one = p.substr(s, j == std::string::npos ? std::string::npos : j - s);
            if (!one.empty()) f.patterns.push_back(one);
            if (j == std::string::npos) break;
            s = j + 1;
        }
        filters.push_back(std::move(f));
    }
    return filters;
}

std::string withDefaultExtension(const std::string& path, const std::string& extension) {
    if (path.empty() || extension.empty()) return path;
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) return path;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && dot + 1 < name.size()) return path;
    if (!name.empty() && name.back() == '.') return path + extension;
    return path + "." + extension;
}

std::string folderWithSlash(const std::string& path) {
    if (path.empty() || path.back() == '/') return path;
    return path + "/";
}

FileDialogJob fileDialogJobFor(int32_t functionId, const Args& args) {
    FileDialogJob job;
    const std::string* a0 = given(args, 0);
    const std::string* a1 = given(args, 1);
    switch (functionId) {
    case OpenFileName:
        job.kind = FileDialogKind::Open;
        job.eventName = "openfilename";
        if (a0) job.filters = filtersFromText(openFilterText(*a0));
        if (a1) job.initialFolder = *a1;
        break;
    case OpenMediaFile:
        job.kind = FileDialogKind::Open;
        job.eventName = "openfilename";
        if (a0) job.initialFolder = *a0;
        break;
    case SaveFileName:
        job.kind = FileDialogKind::Save;
        job.eventName = "savefilename";
        if (a0) job.proposedName = *a0;
        if (a1) job.extension = *a1;
        job.filters = filtersFromText(saveFilterText(job.extension));
        break;
    case ChooseFolder:
        job.kind = FileDialogKind::ChooseFolder;
        job.eventName = "choosefolder";
        if (a0) job.initialFolder = *a0;
        break;
    default:
        throw std::invalid_argument("not a dialog call");
    }
    return job;
}

void runFileDialogCall(NativeObjects& objects, int32_t functionId, const Args& args, CallResult&) {
    // A malformed filter fails the call here, before anything is queued.
    auto answer = std::make_shared<OneAnswer>(objects.js, fileDialogJobFor(functionId, args));
    // The dialog runs from the UI loop after this call has returned "v".
    objects.ui().post([answer] {
        if (!currentPresenter) return; // the answer's destructor reports "cancelled"
        currentPresenter->show(answer->job(),
                               [answer](const std::string& path) { answer->give(path); });
    });
}

namespace {

// The answer of a several-files dialog, given once: by the presenter, or as
// "none chosen" when the job is dropped.
class PathsAnswer {
  public:
    explicit PathsAnswer(std::function<void(std::vector<std::string>)> answer)
        : answer_(std::move(answer)) {}
    ~PathsAnswer() { give({}); }
    PathsAnswer(const PathsAnswer&) = delete;
    PathsAnswer& operator=(const PathsAnswer&) = delete;

    void give(std::vector<std::string> paths) {
        if (!answer_) return;
        auto answer = std::move(answer_);
        answer_ = nullptr;
        answer(std::move(paths));
    }

  private:
    std::function<void(std::vector<std::string>)> answer_;
};

std::vector<std::string> pathsOfJson(const std::string& text) {
    std::vector<std::string> paths;
    picojson::value v;
    if (text.empty() || !picojson::parse(v, text).empty() || !v.is<picojson::array>()) return paths;
    for (const auto& p : v.get<picojson::array>())
        if (p.is<std::string>() && !p.get<std::string>().empty())
            paths.push_back(p.get<std::string>());
    return paths;
}

} // namespace

void showOpenFilesDialog(NativeObjects& objects, std::vector<FileFilter> filters,
                         std::string initialFolder,
                         std::function<void(std::vector<std::string>)> answer) {
    FileDialogJob job;
    job.kind = FileDialogKind::Open;
    job.multiple = true;
    job.filters = std::move(filters);
    job.initialFolder = std::move(initialFolder);
    auto holder = std::make_shared<PathsAnswer>(std::move(answer));
    objects.ui().post([holder, job = std::move(job)] {
        if (!currentPresenter) return; // the holder answers "none"
        currentPresenter->show(
            job, [holder](const std::string& text) { holder->give(pathsOfJson(text)); });
    });
}

FileDialogPresenterScope::FileDialogPresenterScope(FileDialogPresenter& presenter)
    : previous_(currentPresenter) {
    currentPresenter = &presenter;
}

FileDialogPresenterScope::~FileDialogPresenterScope() {
    currentPresenter = previous_;
}

} // namespace kx5
