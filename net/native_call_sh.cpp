#include "net/native_call_sh.h"

#include "bridge/call_arguments.h"
#include "bridge/encoding.h"
#include "bridge/javascript_interface.h"
#include "bridge/json_parse.h"
#include "bridge/native_objects.h"

#include <picojson.h>

namespace kx5 {
namespace {

std::vector<std::string> commandWords(const std::string& json) {
    picojson::value v;
    parseJson(v, json);
    std::vector<std::string> words;
    // get<>() throws on a type mismatch, which the call guard reports.
    for (const auto& element : v.get<picojson::array>())
        words.push_back(element.get<std::string>());
    return words;
}

} // namespace

NativeCall_sh::NativeCall_sh(NativeObjects* owner)
    : NativeCall(owner), processes_([owner](uint32_t pid, const std::string& text) {
          owner->js.postEvent(eventText({"sh", "stdout", std::to_string(pid), text}));
      }) {
    addFunctions({{"exec", Exec}, {"kill", Kill}});
}

void NativeCall_sh::invoke(int32_t id, const Args& args, CallResult& result) {
    if (id == Exec) {
        result.setUnsigned(processes_.start(commandWords(required(args, 0))));
    } else if (id == Kill) {
        const int32_t pid = toInt(required(args, 0));
        if (pid > 0) processes_.kill(static_cast<uint32_t>(pid));
    }
}

} // namespace kx5
