#include "library/ir_file_reader.h"

#include "ir/file_stream.h"
#include "ir/wav_stream.h"
#include "ir/wave_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

namespace kx5 {
namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
// The conversion skips frames quieter than this before the sound starts.
constexpr double kSilence = 0x1p-9;

bool endsWithNoCase(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    const auto tail = name.substr(name.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

std::string describeChannels(uint32_t channels) {
    return std::to_string(channels) + " channels (the unit takes mono or stereo)";
}

// Why CWaveFile refused the file, found with the describing reader.
std::string whyNotOpened(const std::string& path) {
    errno = 0;
    auto file = FileStream::openForReading(path);
    if (!file) return errno != 0 ? std::strerror(errno) : "not a regular file";
    char head[12] = {};
    const bool riff = file->read(head, sizeof head) == sizeof head &&
                      std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
    if (!riff) return "not a WAV file";
    WavInfo info;
    if (!file->seek(0) || !readWavInfo(*file, info))
        return "damaged WAV file (no format or sample data)";
    if (info.formatTag == kTagExtensible)
        return "WAV file with an extensible format header, which the converter does not take";
    if (info.formatTag != kTagPcm && info.formatTag != kTagFloat)
        return "WAV sample format " + std::to_string(info.formatTag) + " is not PCM or float";
    if (info.channels != 1 && info.channels != 2) return describeChannels(info.channels);
    return "damaged WAV file";
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

} // namespace

bool isIrFileName(std::string_view name) {
    return endsWithNoCase(name, ".wav") || endsWithNoCase(name, ".wave");
}

IrReadResult readIrFile(const std::string& path, double maxSeconds) {
    CWaveFile wave;
    if (wave.open(path) != CWaveFile::OpenResult::Opened) return IrUnreadable{whyNotOpened(path)};
    const uint32_t channels = wave.channels();
    const uint32_t rate = wave.sampleRate();
    const uint32_t frames = wave.frames();
    const uint32_t width = wave.bytesPerSample();
    if (width == 0) {
        const char* kind = wave.formatTag() == kTagFloat ? "-bit float" : "-bit PCM";
        return IrUnreadable{std::to_string(wave.bitsPerSample()) + kind + " is not supported"};
    }
    if (rate == 0) return IrUnreadable{"sample rate 0"};
    if (frames == 0) return IrUnreadable{"no samples"};
    if (uint64_t(frames) * channels * width > wave.dataBytesPresent())
        return IrUnreadable{"damaged: the samples end before the length its header gives"};

    IrAudio audio;
    audio.format = wave.formatTag() == kTagFloat ? "wav-float" : "wav-pcm";
    audio.sampleRate = rate;
    audio.bits = wave.bitsPerSample();
    audio.channels = channels;
    audio.frames = frames;
    // A rate far beyond any recording still reads a bounded amount.
    constexpr double kMaxFramesRead = 262144;
    const double limit = std::clamp(std::floor(maxSeconds * rate), 1.0, kMaxFramesRead);
    const uint32_t wanted = uint32_t(std::min<double>(frames, limit));
    std::vector<double> samples(size_t(wanted) * channels);
    if (wave.readSamples(samples.data(), uint32_t(samples.size())) != samples.size())
        return IrUnreadable{"damaged: the samples could not be read"};

    ContentDigest digest;
    digest.add(rate);
    digest.add(channels);
    digest.add(frames);
    bool audible = false;
    audio.firstChannel.resize(wanted);
    for (size_t i = 0; i < samples.size(); ++i) {
        const double v = samples[i];
        if (!std::isfinite(v)) return IrUnreadable{"damaged: samples that are not numbers"};
        const float f = float(v);
        digest.add(f);
        if (i % channels == 0) {
            audio.firstChannel[i / channels] = f;
            audible = audible || std::fabs(v) >= kSilence;
        }
    }
    // The sound may start late: look on through the rest of the file.
    std::vector<double> block(size_t(4096) * channels);
    for (uint32_t read = wanted; !audible && read < frames;) {
        const uint32_t n = std::min<uint32_t>(4096, frames - read);
        if (wave.readSamples(block.data(), n * channels) != n * channels)
            return IrUnreadable{"damaged: the samples could not be read"};
        for (uint32_t f = 0; f < n && !audible; ++f)
            audible = std::fabs(block[size_t(f) * channels]) >= kSilence;
        read += n;
    }
    if (!audible) return IrUnreadable{"silent: nothing audible to load"};
    audio.contentKey = digest.value();
    return audio;
}

} // namespace kx5
