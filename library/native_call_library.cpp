#include "library/native_call_library.h"

#include "bridge/app_paths.h"
#include "bridge/call_arguments.h"
#include "bridge/encoding.h"
#include "bridge/javascript_interface.h"
#include "bridge/json_parse.h"
#include "bridge/native_objects.h"
#include "library/ir_library.h"

#include <picojson.h>

#include <stdexcept>

namespace kx5 {
namespace {

std::vector<std::string> tagList(const std::string& json) {
    picojson::value v;
    if (!parseJson(v, json).empty() || !v.is<picojson::array>())
        throw std::invalid_argument("tags: not a JSON array");
    std::vector<std::string> tags;
    for (const auto& t : v.get<picojson::array>())
        tags.push_back(t.get<std::string>());
    return tags;
}

std::string joinFields(const std::vector<std::string>& fields) {
    std::string text = "library";
    for (const std::string& f : fields)
        text += '\f' + f;
    return text;
}

} // namespace

NativeCall_library::NativeCall_library(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"folders", Folders},
                  {"addfolder", AddFolder},
                  {"removefolder", RemoveFolder},
                  {"scan", Scan},
                  {"cancel", Cancel},
                  {"status", Status},
                  {"search", Search},
                  {"entry", Entry},
                  {"skipped", Skipped},
                  {"tag", Tag},
                  {"favourite", Favourite}});
    JavaScriptInterface& js = owner->js;
    library_ = std::make_unique<IrLibrary>(
        owner->paths.dataFolder + "library/",
        [&js](std::vector<std::string> fields) { js.postEvent(joinFields(fields)); });
}

NativeCall_library::~NativeCall_library() = default;

void NativeCall_library::invoke(int32_t id, const Args& args, CallResult& result) {
    IrLibrary& library = *library_;
    try {
        switch (id) {
        case Folders:
            result.setString(library.foldersJson());
            break;
        case AddFolder:
            result.setBool(library.addFolder(required(args, 0)));
            break;
        case RemoveFolder:
            result.setBool(library.removeFolder(required(args, 0)));
            break;
        case Scan:
            library.scan();
            result.setBool(true);
            break;
        case Cancel:
            result.setBool(library.cancel());
            break;
        case Status:
            result.setString(library.statusJson());
            break;
        case Search:
            result.setString(library.search(SearchQuery::fromJson(optional(args, 0))));
            break;
        case Entry:
            result.setString(library.entry(required(args, 0)));
            break;
        case Skipped:
            result.setString(library.skippedJson());
            break;
        case Tag:
            result.setBool(library.setTags(required(args, 0), tagList(required(args, 1))));
            break;
        case Favourite:
            result.setBool(library.setFavourite(required(args, 0), parseFlag(required(args, 1))));
            break;
        default:
            break;
        }
    } catch (const LibraryError& e) {
        throw NativeException(std::string(e.what()));
    } catch (const SqliteError& e) {
        throw NativeException(std::string("library: ") + e.what());
    }
}

} // namespace kx5
