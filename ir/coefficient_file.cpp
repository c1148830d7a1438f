#include "ir/coefficient_file.h"

#include "ir/byte_order.h"
#include "ir/file_stream.h"

#include <cstdio>
#include <unistd.h>

namespace kx5 {

std::vector<float> coefficientValues(const ConversionState& s) {
    using conversion::kMaxTaps;
    std::vector<float> values;
    values.reserve(conversion::kValueCount);
    std::vector<float> positions;
    positions.reserve(kMaxTaps);
    const float unit = float(1.0 / 16384.0);
    for (int i = 0; i < s.loopTarget[0] && i < s.tapCount && int(positions.size()) < kMaxTaps;
         ++i) {
        if (s.taps[size_t(i)] == 0.0) continue;
        values.push_back(float(s.taps[size_t(i)]));
        positions.push_back(float(i) * unit);
    }
    values.resize(kMaxTaps, 0.0f);
    positions.resize(kMaxTaps, 0.2490234375f);
    values.insert(values.end(), positions.begin(), positions.end());
    for (int32_t target : s.loopTarget)
        values.push_back(target > 2 ? float(target - 2) : 1.0f);
    for (int32_t source : s.loopSource)
        values.push_back(float(double(float(source)) * (1.0 / 16384.0)));
    for (double gain : s.loopGain)
        values.push_back(float(gain));
    values.push_back(float(s.leadSilence));
    values.push_back(1.0f);
    return values;
}

bool writeCoefficientFile(const std::string& path, const std::vector<float>& values) {
    std::vector<unsigned char> bytes(values.size() * 4);
    for (size_t i = 0; i < values.size(); ++i)
        writeLeFloat(bytes.data() + 4 * i, values[i]);
    const std::string partial = path + ".part";
    bool ok = false;
    if (auto file = FileStream::createForWriting(partial)) {
        ok = file->write(bytes.data(), uint32_t(bytes.size())) == bytes.size();
        ok = file->close() && ok;
    }
    if (ok && std::rename(partial.c_str(), path.c_str()) == 0) return true;
    ::unlink(partial.c_str());
    ::unlink(path.c_str());
    return false;
}

} // namespace kx5
