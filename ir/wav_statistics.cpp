#include "ir/wav_statistics.h"

#include "ir/file_stream.h"
#include "ir/wav_stream.h"

#include <cmath>

namespace kx5 {
namespace {

const picojson::value& member(const picojson::object& o, const char* key) {
    static const picojson::value null;
    const auto it = o.find(key);
    return it == o.end() ? null : it->second;
}

} // namespace

bool wavStatistics(const picojson::object& args, picojson::object& result) {
    const std::string& path = member(args, "path").get<std::string>();
    // Linux has no share modes: a file another program holds open for
    // writing is read as it stands.
    const auto file = FileStream::openForReading(path);
    if (!file) return false;
    WavInfo info;
    if (!readWavInfo(*file, info)) return false;
    result["format"] = picojson::value(double(info.formatTag));
    result["channels"] = picojson::value(double(info.channels));
    result["bits"] = picojson::value(double(info.bitsPerSample));
    result["sampleRate"] = picojson::value(double(info.sampleRate));
    result["samples"] = picojson::value(double(info.frames));
    if (info.tempo >= 0.0f && std::isfinite(info.tempo)) {
        result["tempo"] = picojson::value(double(info.tempo));
        result["denominator"] = picojson::value(double(info.meterDenominator));
        result["numerator"] = picojson::value(double(info.meterNumerator));
        result["beatCount"] = picojson::value(double(info.beatCount));
    }
    return true;
}

} // namespace kx5
