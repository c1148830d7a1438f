#include "modules/app/control_channel.h"

#include "bridge/javascript_interface.h"
#include "bridge/json_parse.h"
#include "bridge/ui_queue.h"

#include <exception>

namespace kx5 {

ControlChannel::ControlChannel(JavaScriptInterface& js, std::vector<ControlCommand> table)
    : js_(js), table_(std::move(table)) {}

std::vector<ControlCommand> defaultControlTable() {
    return {ControlCommand{"convert", {}, {}}, ControlCommand{"wavstat", {}, {}}};
}

void ControlChannel::setHandlers(int index, ControlCommand command) {
    if (index >= 0 && size_t(index) < table_.size()) {
        command.word = table_[index].word;
        table_[index] = std::move(command);
    }
}

void ControlChannel::postRequest(std::string request) {
    js_.ui().post([this, r = std::move(request)] { handleControlRequest(r); });
}

void ControlChannel::handleControlRequest(const std::string& request) {
    const size_t colon = request.find(':');
    if (request.empty() || colon == std::string::npos) return;
    const std::string word = request.substr(0, colon);
    const std::string jsonText = request.substr(colon + 1);
    try {
        picojson::object args;
        if (!jsonText.empty()) {
            picojson::value v;
            parseJson(v, jsonText);
            // A text that is not an object raises the type error: no answer.
            args = v.get<picojson::object>();
        }
        for (const auto& entry : table_) {
            if (entry.word != word) continue;
            picojson::object result;
            bool ok = entry.request ? entry.request(args, result) : false;
            result["result"] = picojson::value(ok ? 1.0 : 0.0);
            postCommandEvent(word, picojson::value(result).serialize());
            return;
        }
    } catch (const std::exception&) {
        // Dropped without an answer; the page copes with that.
    }
}

void ControlChannel::handleControlDone(int index) {
    if (index < 0 || size_t(index) >= table_.size()) return;
    const auto& entry = table_[index];
    if (!entry.completion) return;
    try {
        picojson::object result;
        bool ok = entry.completion(result);
        result["result"] = picojson::value(ok ? 1.0 : 0.0);
        postCommandEvent(entry.word, picojson::value(result).serialize());
    } catch (const std::exception&) {
    }
}

void ControlChannel::signalDone(int index) {
    js_.ui().send([this, index] { handleControlDone(index); });
}

void ControlChannel::postCommandEvent(const std::string& word, const std::string& json) {
    js_.postEvent(eventText({"app", "command", word, json}));
}

} // namespace kx5
