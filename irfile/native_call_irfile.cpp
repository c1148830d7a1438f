#include "irfile/native_call_irfile.h"

#include "bridge/app_paths.h"
#include "bridge/call_arguments.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "irfile/prepared_source.h"
#include "irfile/preview_conversion.h"
#include "modules/fs/file_dialogs.h"

#include <picojson.h>

namespace kx5 {
namespace {

using picojson::object;
using picojson::value;

object formatJson(const SourceFormat& f) {
    object o;
    o["container"] = value(f.container);
    o["codec"] = value(f.codec);
    o["float"] = value(f.floating);
    o["bits"] = value(double(f.bits));
    o["rate"] = value(double(f.sampleRate));
    o["channels"] = value(double(f.channels));
    o["frames"] = value(double(f.frames));
    o["direct"] = value(f.direct);
    return o;
}

std::string refusalJson(const SourceRefusal& r) {
    object o;
    o["result"] = value(0.0);
    o["reason"] = value(r.reason);
    return value(o).serialize();
}

std::string describeJson(const std::string& path) {
    const SourceDescription d = describeSource(path);
    if (const auto* refused = std::get_if<SourceRefusal>(&d)) return refusalJson(*refused);
    object o = formatJson(std::get<SourceFormat>(d));
    o["result"] = value(1.0);
    return value(o).serialize();
}

std::string prepareJson(const std::string& path, const std::string& mode,
                        const std::string& tempFolder) {
    if (!mode.empty() && mode != "mix") return refusalJson({"unknown channel use: " + mode});
    const Preparation p =
        prepareSource(path, mode == "mix" ? ChannelUse::Mix : ChannelUse::AsStored, tempFolder);
    if (const auto* refused = std::get_if<SourceRefusal>(&p)) return refusalJson(*refused);
    const PreparedSource& prepared = std::get<PreparedSource>(p);
    object o;
    o["result"] = value(1.0);
    o["path"] = value(prepared.path);
    o["decoded"] = value(prepared.decoded);
    o["mixed"] = value(prepared.mixed);
    o["cut"] = value(prepared.cut);
    o["source"] = value(formatJson(prepared.source));
    return value(o).serialize();
}

std::string previewEvent(const PreviewConversions::Result& r) {
    object o;
    o["path"] = value(r.path);
    o["ch"] = value(double(r.channel));
    o["request"] = value(double(r.request));
    if (r.ok)
        o["coefficients"] = value(r.coefficients);
    else
        o["reason"] = value(r.reason);
    return eventText({"irfile", r.ok ? "previewed" : "previewfailed", value(o).serialize()});
}

} // namespace

NativeCall_irfile::NativeCall_irfile(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"describe", Describe},
                  {"prepare", Prepare},
                  {"preview", Preview},
                  {"openfiles", OpenFiles}});
    JavaScriptInterface& js = owner->js;
    previews_ = std::make_unique<PreviewConversions>(
        owner->paths.tempFolder,
        [&js](const PreviewConversions::Result& r) { js.postEvent(previewEvent(r)); });
}

NativeCall_irfile::~NativeCall_irfile() = default;

void NativeCall_irfile::invoke(int32_t id, const Args& args, CallResult& result) {
    NativeObjects& o = *owner();
    switch (id) {
    case Describe:
        result.setString(describeJson(required(args, 0)));
        break;
    case Prepare:
        result.setString(prepareJson(required(args, 0), optional(args, 1), o.paths.tempFolder));
        break;
    case Preview: {
        const int channel = toInt(optional(args, 1, "0"));
        result.setUnsigned(uint32_t(previews_->request(required(args, 0), channel)));
        break;
    }
    case OpenFiles: {
        // The filter is the one of "openfilename": a JSON array of extensions.
        const std::string* filter = given(args, 0);
        std::vector<FileFilter> filters =
            filter ? filtersFromText(openFilterText(*filter)) : std::vector<FileFilter>{};
        JavaScriptInterface& js = o.js;
        showOpenFilesDialog(
            o, std::move(filters), optional(args, 1), [&js](std::vector<std::string> paths) {
                picojson::array list;
                for (auto& p : paths)
                    list.emplace_back(std::move(p));
                js.postEvent(eventText({"irfile", "openfiles", value(list).serialize()}));
            });
        break;
    }
    default:
        break;
    }
}

} // namespace kx5
