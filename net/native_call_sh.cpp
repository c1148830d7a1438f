#include "net/native_call_sh.h"

#include "bridge/encoding.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"

#include <picojson.h>

#include <stdexcept>

namespace kx5 {
namespace {

std::vector<std::string> commandWords(const std::string& json) {
    picojson::value v;
    picojson::parse(v, json);
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
    addFunctions({"exec", "kill"});
}

void NativeCall_sh::invoke(int32_t id, const Args& args, CallResult& result) {
    const std::string arg = args.empty() ? std::string() : args[0];
    if (id == 0) {
        result.setUnsigned(processes_.start(commandWords(arg)));
    } else if (id == 1) {
        const int32_t pid = toInt(arg);
        if (pid > 0) processes_.kill(static_cast<uint32_t>(pid));
    }
}

} // namespace kx5
