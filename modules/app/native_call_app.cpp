#include "modules/app/native_call_app.h"

#include "bridge/app_paths.h"
#include "bridge/call_arguments.h"
#include "bridge/encoding.h"
#include "bridge/glib_handles.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "modules/app/control_channel.h"
#include "modules/app/replace_file.h"
#include "modules/app/settings_file.h"

#include <picojson.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kx5 {
namespace {

constexpr const char* kPrefGroup = "page";
constexpr const char* kPrefKey = "pref";

std::optional<std::string> readWholeFile(const std::string& path) {
    gchar* bytes = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &bytes, &length, nullptr)) return std::nullopt;
    const glib::Text data(bytes);
    return std::string(data.get(), length);
}

} // namespace

bool isPlainFileName(const std::string& key) {
    return !key.empty() && key != "." && key != ".." && key.find('/') == std::string::npos &&
           key.find('\0') == std::string::npos;
}

NativeCall_app::NativeCall_app(NativeObjects* owner, ControlChannel& control)
    : NativeCall(owner), control_(control) {
    addFunctions({{"ready", Ready},
                  {"startevent", StartEvent},
                  {"getevent", GetEvent},
                  {"storage", Storage},
                  {"storage2", Storage2},
                  {"clipboard", Clipboard},
                  {"importfile", ImportFile},
                  {"exportfile", ExportFile},
                  {"control", Control},
                  {"locate", Locate},
                  {"dragdrop", DragDrop},
                  {"dropfiles", DropFiles},
                  {"exit", Exit}});
    // Writes that an earlier run did not finish (killed on the way) leave
    // temporary files nobody would ever remove.
    if (owner) {
        removeStaleWrites(owner->paths.configFolder);
        removeStaleWrites(owner->paths.dataFolder + "pref/");
    }
}

void NativeCall_app::invoke(int32_t id, const Args& args, CallResult& result) {
    NativeObjects& o = *owner();
    switch (id) {
    case Ready:
        break;
    case StartEvent:
        if (const std::string* flag = given(args, 0)) o.js.setPush(parseFlag(*flag));
        result.setBool(true);
        break;
    case GetEvent:
        result.setString(o.js.pullEvent());
        break;
    case Storage:
        storage(args, result);
        break;
    case Storage2:
        storage2(args, result);
        break;
    case Clipboard:
        if (const std::string* text = given(args, 0))
            o.clipboardText = text->substr(0, text->find('\0'));
        else
            result.setString(o.clipboardText);
        break;
    case ImportFile:
    case ExportFile:
        break;
    case Control:
        if (const std::string* request = given(args, 0)) control_.postRequest(*request);
        break;
    case Locate:
        if (const std::string* url = given(args, 0)) o.js.navigate(*url);
        break;
    case DragDrop:
        if (const std::string* flag = given(args, 0)) o.js.dragDropEnabled = parseFlag(*flag);
        break;
    case DropFiles: {
        picojson::array list;
        for (const auto& f : o.droppedFiles)
            list.emplace_back(f);
        result.setString(picojson::value(list).serialize());
        break;
    }
    case Exit:
        o.js.requestClose();
        break;
    default:
        break;
    }
}

void NativeCall_app::storage(const Args& args, CallResult& result) {
    SettingsFile settings(settingsFilePath(owner()->paths.configFolder));
    const std::string* text = given(args, 0);
    if (!text) {
        result.setString(settings.get(kPrefGroup, kPrefKey).value_or(""));
        return;
    }
    // Errors are silent: the page sees "v" either way.
    settings.set(kPrefGroup, kPrefKey, toUtf8(*text));
    settings.save();
}

void NativeCall_app::storage2(const Args& args, CallResult& result) {
    result.setString("");
    const std::string* key = given(args, 0);
    // Anything but a plain name behaves as a missing file and writes nothing.
    if (!key || !isPlainFileName(*key)) return;
    const std::string folder = owner()->paths.dataFolder + "pref/";
    if (!ensureFolder(folder)) return;
    const std::string path = folder + *key;
    const std::string* text = given(args, 1);
    if (!text) {
        if (auto bytes = readWholeFile(path)) result.setString(fromUtf8(*bytes));
        return;
    }
    replaceFile(path, toUtf8(*text));
}

} // namespace kx5
