// libFuzzer target for the bridge console's line parser: any line either
// gives a call or an error text, and every line the console prints from it
// is valid JSON that reads back as the (well-formed) value written.
#include "bridge/encoding.h"
#include "host/console_line.h"

#include <picojson.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void checkOutput(const std::string& value) {
    const std::string line = kx5::consoleOutputLine("r", value);
    if (line.empty() || line.back() != '\n') std::abort();
    if (kx5::wellFormedUtf8(line) != line) std::abort();
    picojson::value v;
    if (!picojson::parse(v, line).empty() || !v.is<picojson::object>()) std::abort();
    const auto& o = v.get<picojson::object>();
    const auto it = o.find("r");
    if (it == o.end() || !it->second.is<std::string>() ||
        it->second.get<std::string>() != kx5::wellFormedUtf8(value))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    std::string callName;
    kx5::Args args;
    long waitMs = -1;
    const std::string error = kx5::parseConsoleLine(line, callName, args, waitMs);
    if (!error.empty()) {
        checkOutput(error);
        return 0;
    }
    if (callName == "wait") {
        if (waitMs < 0 || !args.empty()) std::abort();
        return 0;
    }
    if (waitMs != -1) std::abort();
    checkOutput(callName);
    for (const auto& a : args)
        checkOutput(a);
    return 0;
}
