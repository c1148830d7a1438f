#include "audio/files/audio_workers.h"

#include "audio/files/audio_file_ops.h"
#include "bridge/javascript_interface.h"
#include "bridge/json_parse.h"

#include <picojson.h>

#include <vector>

namespace kx5 {
namespace {

std::string oneElementList(const std::string& path) {
    picojson::array a{picojson::value(path)};
    return picojson::value(a).serialize();
}

void report(JavaScriptInterface& js, bool ok, const std::string& input,
            const std::string& outputs) {
    if (ok)
        js.postEvent(eventText({"audio", "converted", input, outputs}));
    else
        js.postEvent(eventText({"audio", "convertfailed", input}));
}

} // namespace

void AudioConvertThread::run() {
    const bool ok = target_.tag != kWaveTagNone && transcodeAudio(input_, output_, target_);
    report(js_, ok, input_, oneElementList(output_));
}

void AudioSplitThread::run() {
    picojson::value list;
    parseJson(list, outputList_);
    std::vector<std::string> outputs;
    bool wellFormed = list.is<picojson::array>();
    if (wellFormed) {
        for (const auto& v : list.get<picojson::array>()) {
            if (!v.is<std::string>()) {
                wellFormed = false;
                break;
            }
            outputs.push_back(v.get<std::string>());
        }
    }
    const bool ok = wellFormed && splitWave(input_, outputs, tempFolder_);
    report(js_, ok, input_, outputList_);
}

void AudioReverseThread::run() {
    report(js_, reverseWave(input_, output_, tempFolder_), input_, oneElementList(output_));
}

} // namespace kx5
