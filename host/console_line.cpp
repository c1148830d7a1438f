#include "host/console_line.h"

#include "bridge/encoding.h"
#include "bridge/json_parse.h"

#include <picojson.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kx5 {
namespace {

// The page turns every argument into text by concatenating it to "".
std::string argumentText(const picojson::value& v) {
    if (v.is<std::string>()) return v.get<std::string>();
    if (v.is<bool>()) return v.get<bool>() ? "true" : "false";
    if (v.is<picojson::null>()) return "null";
    if (v.is<double>()) {
        const double d = v.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.0f", d);
            return buf;
        }
        return v.serialize();
    }
    return v.serialize();
}

} // namespace

std::string parseConsoleLine(const std::string& line, std::string& callName, Args& args,
                             long& waitMs) {
    picojson::value v;
    const std::string err = parseJson(v, line);
    if (!err.empty()) return err;
    if (!v.is<picojson::array>()) return "a line must be a JSON array";
    const auto& a = v.get<picojson::array>();
    if (a.empty() || !a[0].is<std::string>()) return "the first element must be a call name";
    callName = a[0].get<std::string>();
    args.clear();
    waitMs = -1;
    if (callName == "wait") {
        if (a.size() != 2 || !a[1].is<double>() || !(a[1].get<double>() >= 0))
            return "wait takes a number of milliseconds";
        // Longer than a day is taken as a day.
        waitMs = static_cast<long>(std::min(a[1].get<double>(), 86400000.0));
        return {};
    }
    for (size_t i = 1; i < a.size(); ++i)
        args.push_back(argumentText(a[i]));
    return {};
}

std::string consoleOutputLine(const char* key, const std::string& value) {
    picojson::object o;
    o[key] = picojson::value(wellFormedUtf8(value));
    return picojson::value(o).serialize() + "\n";
}

} // namespace kx5
