#include "irfile/audio_source.h"

#include "audio/engines/audio_file_reader.h"
#include "ir/file_stream.h"
#include "ir/source_loader.h"
#include "ir/wav_stream.h"
#include "ir/wave_file.h"

extern "C" {
#include <libavcodec/codec_desc.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace kx5 {
namespace {

std::string channelsRefusal(uint32_t channels) {
    return std::to_string(channels) + " channels (the unit takes mono or stereo)";
}

// FFmpeg would block on a FIFO and read a device for ever: only regular
// files that can be read are handed to it.
std::string regularFileProblem(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular ? std::string() : "not a regular file";
}

SourceFormat directFormat(const CWaveFile& wave) {
    SourceFormat f;
    f.container = "wav";
    f.floating = wave.formatTag() == kWaveTagFloat;
    f.codec = f.floating ? "float" : "pcm";
    f.bits = wave.bitsPerSample();
    f.sampleRate = wave.sampleRate();
    f.channels = wave.channels();
    f.frames = wave.frames();
    f.direct = true;
    return f;
}

// What the conversion's own reader makes of a file.
struct DirectVerdict {
    bool direct = false;
    std::string refusal; // not empty: no decoder can help either
};

DirectVerdict judgeDirect(const std::string& path, CWaveFile& wave) {
    if (wave.open(path) != CWaveFile::OpenResult::Opened) {
        // Mono or stereo only, whoever reads the format.
        if (wave.formatTag() != 0 && wave.channels() != 1 && wave.channels() != 2)
            return {false, channelsRefusal(wave.channels())};
        return {};
    }
    if (conversionTakes(wave)) return {true, {}};
    // A header that promises more samples than the file holds: cut short
    // (a stream's unknown length, 0 or all ones, is no promise).
    const uint64_t announced = uint64_t(wave.frames()) * wave.channels() * wave.bytesPerSample();
    const uint32_t size = wave.dataSize();
    if (wave.bytesPerSample() != 0 && size != 0 && size != 0xFFFFFFFFu &&
        announced > wave.dataBytesPresent())
        return {false, "damaged: the samples end before the length its header gives"};
    return {};
}

// Why FFmpeg cannot read a file either.
std::string unreadableReason(const std::string& path) {
    auto file = FileStream::openForReading(path);
    char head[12] = {};
    const bool riff = file && file->read(head, sizeof head) == sizeof head &&
                      std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
    if (!riff) return "not an audio file this program reads (WAV, AIFF, FLAC)";
    WavInfo info;
    if (!file->seek(0) || !readWavInfo(*file, info))
        return "damaged WAV file (no format or sample data)";
    if (info.formatTag == kWaveTagExtensible)
        return "extensible WAV file whose sample format cannot be read";
    return "WAV sample format " + std::to_string(info.formatTag) + " cannot be read";
}

bool isFloatFormat(AVSampleFormat f) {
    const AVSampleFormat packed = av_get_packed_sample_fmt(f);
    return packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL;
}

// A decoder FFmpeg opened, checked for what an impulse response needs.
struct Decoded {
    std::unique_ptr<AudioFileReader> reader;
    SourceFormat format;
};

std::variant<Decoded, SourceRefusal> openDecoded(const std::string& path) {
    auto reader = AudioFileReader::open(path);
    if (!reader) return SourceRefusal{unreadableReason(path)};
    const AVCodecDescriptor* codec = avcodec_descriptor_get(reader->codecId());
    // A lossy codec shifts and smears the samples: no exact response left.
    if (!codec || !(codec->props & AV_CODEC_PROP_LOSSLESS)) {
        const char* name = codec ? (codec->long_name ? codec->long_name : codec->name) : "it";
        return SourceRefusal{std::string(name) +
                             " is a lossy format: it holds no exact impulse response"};
    }
    const WaveFormat& stored = reader->sourceFormat();
    SourceFormat f;
    f.container = reader->containerName();
    f.floating = isFloatFormat(reader->decodedFormat());
    const bool pcm = std::strncmp(codec->name, "pcm_", 4) == 0;
    f.codec = pcm ? (f.floating ? "float" : "pcm") : codec->name;
    // A WAVE header says what it holds (20 bits in a 24-bit container).
    f.bits = reader->isWaveFile() && stored.bitsPerSample != 0
                 ? stored.bitsPerSample
                 : uint32_t(std::max(0, reader->storedBits()));
    f.sampleRate = stored.sampleRate;
    f.channels = stored.channels;
    const int64_t frames = reader->lengthFrames();
    f.frames = frames > 0 ? uint64_t(frames) : 0;
    if (f.channels != 1 && f.channels != 2) return SourceRefusal{channelsRefusal(f.channels)};
    if (f.sampleRate == 0) return SourceRefusal{"sample rate 0"};
    if (!reader->setOutput(int(f.channels), int(f.sampleRate), AV_SAMPLE_FMT_DBL))
        return SourceRefusal{"the samples cannot be decoded"};
    return Decoded{std::move(reader), std::move(f)};
}

SourceRead readDirect(CWaveFile& wave, uint64_t maxFrames) {
    SourceSamples s;
    s.format = directFormat(wave);
    const uint32_t channels = wave.channels();
    s.frames = std::min<uint64_t>(wave.frames(), maxFrames);
    s.cut = wave.frames() > maxFrames;
    s.interleaved.resize(size_t(s.frames) * channels);
    const uint32_t count = uint32_t(s.interleaved.size());
    if (wave.readSamples(s.interleaved.data(), count) != count)
        return SourceRefusal{"damaged: the samples could not be read"};
    return s;
}

SourceRead readDecoded(Decoded d, uint64_t maxFrames) {
    SourceSamples s;
    s.format = std::move(d.format);
    const size_t channels = s.format.channels;
    const size_t limit = size_t(maxFrames) * channels;
    std::vector<uint8_t> block;
    for (;;) {
        const AudioFileReader::Result r = d.reader->read(block);
        if (r == AudioFileReader::Result::End) break;
        if (r == AudioFileReader::Result::Error)
            return SourceRefusal{"damaged: the samples could not be decoded"};
        const size_t values = block.size() / sizeof(double);
        const size_t take = std::min(values, limit - s.interleaved.size());
        const size_t at = s.interleaved.size();
        s.interleaved.resize(at + take);
        std::memcpy(s.interleaved.data() + at, block.data(), take * sizeof(double));
        if (take < values) {
            s.cut = true;
            break;
        }
    }
    s.frames = s.interleaved.size() / channels;
    if (s.frames == 0) return SourceRefusal{"no samples"};
    // What was decoded is the length (a header may promise more).
    if (!s.cut) s.format.frames = s.frames;
    return s;
}

} // namespace

SourceDescription describeSource(const std::string& path) {
    if (std::string problem = regularFileProblem(path); !problem.empty())
        return SourceRefusal{problem};
    CWaveFile wave;
    const DirectVerdict verdict = judgeDirect(path, wave);
    if (verdict.direct) return directFormat(wave);
    if (!verdict.refusal.empty()) return SourceRefusal{verdict.refusal};
    wave.close();
    auto opened = openDecoded(path);
    if (auto* refused = std::get_if<SourceRefusal>(&opened)) return *refused;
    return std::get<Decoded>(opened).format;
}

SourceRead readSource(const std::string& path, uint64_t maxFrames) {
    if (maxFrames == 0) return SourceRefusal{"nothing to read"};
    if (std::string problem = regularFileProblem(path); !problem.empty())
        return SourceRefusal{problem};
    CWaveFile wave;
    const DirectVerdict verdict = judgeDirect(path, wave);
    if (verdict.direct) return readDirect(wave, maxFrames);
    if (!verdict.refusal.empty()) return SourceRefusal{verdict.refusal};
    wave.close();
    auto opened = openDecoded(path);
    if (auto* refused = std::get_if<SourceRefusal>(&opened)) return *refused;
    return readDecoded(std::move(std::get<Decoded>(opened)), maxFrames);
}

} // namespace kx5
