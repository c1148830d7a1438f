#include "library/ir_file_reader.h"

#include "irfile/prepared_source.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>

namespace kx5 {
namespace {

// The conversion skips frames quieter than this before the sound starts.
constexpr double kSilence = 0x1p-9;

bool endsWithNoCase(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    const auto tail = name.substr(name.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

// FNV-1a over 32-bit words (the samples' float bits), 64 bits wide.
class ContentDigest {
  public:
    void add(uint32_t word) {
        hash_ ^= word;
        hash_ *= 0x100000001B3ull;
    }
    void add(float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        add(bits);
    }
    uint64_t value() const { return hash_ ^ (hash_ >> 29); }

  private:
    uint64_t hash_ = 0xCBF29CE484222325ull;
};

// "wav-pcm", "wav-float", "aiff-pcm", "flac-pcm"...
std::string formatName(const SourceFormat& f) {
    return f.container + (f.floating ? "-float" : "-pcm");
}

bool audibleFrom(const SourceSamples& s, uint64_t from) {
    for (uint64_t f = from; f < s.frames; ++f)
        if (std::fabs(s.interleaved[size_t(f) * s.format.channels]) >= kSilence) return true;
    return false;
}

} // namespace

bool isIrFileName(std::string_view name) {
    for (std::string_view ext : {".wav", ".wave", ".aif", ".aiff", ".aifc", ".flac"})
        if (endsWithNoCase(name, ext)) return true;
    return false;
}

IrReadResult readIrFile(const std::string& path, double maxSeconds) {
    const SourceDescription described = describeSource(path);
    if (const auto* refused = std::get_if<SourceRefusal>(&described))
        return IrUnreadable{refused->reason};
    const SourceFormat& format = std::get<SourceFormat>(described);
    const uint32_t rate = format.sampleRate;
    if (rate == 0) return IrUnreadable{"sample rate 0"};
    if (format.direct && format.frames == 0) return IrUnreadable{"no samples"};
    // A rate far beyond any recording still reads a bounded amount.
    constexpr double kMaxFramesRead = 262144;
    const double limit = std::clamp(std::floor(maxSeconds * rate), 1.0, kMaxFramesRead);
    SourceRead read = readSource(path, uint64_t(limit));
    if (const auto* refused = std::get_if<SourceRefusal>(&read))
        return IrUnreadable{refused->reason};
    const SourceSamples& s = std::get<SourceSamples>(read);
    const uint32_t channels = s.format.channels;

    IrAudio audio;
    audio.format = formatName(s.format);
    audio.sampleRate = rate;
    audio.bits = s.format.bits;
    audio.channels = channels;
    audio.frames = uint32_t(std::min<uint64_t>(s.format.frames, UINT32_MAX));
    ContentDigest digest;
    digest.add(rate);
    digest.add(channels);
    digest.add(audio.frames);
    audio.firstChannel.resize(s.frames);
    for (size_t i = 0; i < s.interleaved.size(); ++i) {
        const double v = s.interleaved[i];
        if (!std::isfinite(v)) return IrUnreadable{"damaged: samples that are not numbers"};
        const float f = float(v);
        digest.add(f);
        if (i % channels == 0) audio.firstChannel[i / channels] = f;
    }
    // The sound may start late: look on through the rest of the file.
    bool audible = audibleFrom(s, 0);
    if (!audible && s.cut) {
        const SourceRead all = readSource(path, uint64_t(kMaxPreparedSeconds * rate));
        if (const auto* refused = std::get_if<SourceRefusal>(&all))
            return IrUnreadable{refused->reason};
        audible = audibleFrom(std::get<SourceSamples>(all), s.frames);
    }
    if (!audible) return IrUnreadable{"silent: nothing audible to load"};
    audio.contentKey = digest.value();
    return audio;
}

} // namespace kx5
