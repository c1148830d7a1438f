// Every kind of file an impulse response comes in converts to exactly what a
// plain WAVE copy of it made by sox converts to; a file the conversion took
// before is handed to it unchanged.
#include "ir/coefficient_file.h"
#include "ir/conversion_state.h"
#include "ir/ir_conversion.h"
#include "ir/source_loader.h"
#include "irfile/prepared_source.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

namespace kx5 {
namespace {

using test::Bytes;
using test::FormatRecord;

// A cabinet-like response: a little silence, then noise decaying over
// 60 ms, quantised to `bits` (float: 24) so that every format can hold it
// exactly. Interleaved; the right channel decays faster.
std::vector<double> cabinet(uint32_t rate, int channels, int bits, double seconds = 0.25) {
    std::mt19937 random(rate + channels + bits);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const size_t frames = size_t(seconds * rate);
    const double step = std::ldexp(1.0, -(bits - 1));
    std::vector<double> out;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (int c = 0; c < channels; ++c) {
            const double v =
                i < 40 ? 0.0 : 0.8 * std::exp(-t / (c == 0 ? 0.06 : 0.03)) * noise(random);
            out.push_back(std::round(v / step) * step);
        }
    }
    return out;
}

// The "fmt " body of WAVE_FORMAT_EXTENSIBLE with the given sub-format.
Bytes extensibleFormat(uint16_t subFormat, uint16_t channels, uint32_t rate, uint16_t bits) {
    FormatRecord plain{0xFFFE, channels, rate, bits};
    Bytes b = plain.bytes();
    test::putLe(b, 22, 2);
    test::putLe(b, bits, 2);
    test::putLe(b, channels == 2 ? 3 : 4, 4);
    test::putLe(b, subFormat, 2);
    const unsigned char guid[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    b.insert(b.end(), guid, guid + 14);
    return b;
}

std::vector<float> coefficientsOf(const std::string& path, int channel) {
    auto state = std::make_unique<ConversionState>();
    if (loadConversionSource(path, channel, *state) != LoadResult::Loaded) return {};
    const std::atomic<bool> keepGoing{false};
    if (runConversion(*state, keepGoing) != ConversionOutcome::Converted) return {};
    return coefficientValues(*state);
}

bool bitIdentical(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

class FormatMatrix : public ::testing::Test {
  protected:
    std::string file(const std::string& name) const { return dir.file(name); }

    void writeWave(const std::string& name, const Bytes& fmt, const FormatRecord& encoding,
                   const std::vector<double>& samples, const std::vector<Bytes>& before = {},
                   const std::vector<Bytes>& between = {}) {
        std::vector<Bytes> chunks = before;
        chunks.push_back(test::chunk("fmt ", fmt));
        chunks.insert(chunks.end(), between.begin(), between.end());
        chunks.push_back(test::chunk("data", test::encodeSamples(encoding, samples)));
        test::writeFile(file(name), test::riffWave(chunks));
    }

    // sox makes another format from a plain WAVE file.
    void soxConvert(const std::string& from, const std::string& to,
                    const std::vector<std::string>& options,
                    const std::vector<std::string>& effects = {}) {
        std::vector<std::string> argv{"sox", "-D", "-V1", file(from)};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(file(to));
        argv.insert(argv.end(), effects.begin(), effects.end());
        ASSERT_EQ(test::runCommand(argv), 0) << from << " -> " << to;
    }

    // The file converts exactly as sox's plain WAVE copy of it does, through
    // a decoded copy of its own.
    void expectSameAsSoxCopy(const std::string& name, const std::vector<std::string>& copyOptions,
                             int channel = 0, ChannelUse use = ChannelUse::AsStored,
                             const std::vector<std::string>& effects = {}) {
        SCOPED_TRACE(name);
        const Preparation p = prepareSource(file(name), use, dir.path() + "tmp/");
        ASSERT_TRUE(std::holds_alternative<PreparedSource>(p)) << std::get<SourceRefusal>(p).reason;
        const PreparedSource& prepared = std::get<PreparedSource>(p);
        EXPECT_TRUE(prepared.decoded) << "the conversion takes it as it is";
        EXPECT_FALSE(prepared.source.direct);
        const std::string copy = name + ".sox.wav";
        std::vector<std::string> options{"-t", "wavpcm"};
        options.insert(options.end(), copyOptions.begin(), copyOptions.end());
        ASSERT_NO_FATAL_FAILURE(soxConvert(name, copy, options, effects));
        const auto ours = coefficientsOf(prepared.path, channel);
        const auto theirs = coefficientsOf(file(copy), channel);
        ASSERT_EQ(theirs.size(), size_t(conversion::kValueCount));
        EXPECT_TRUE(bitIdentical(ours, theirs)) << "differs from the conversion of sox's copy";
    }

    void SetUp() override { std::filesystem::create_directories(dir.path() + "tmp"); }

    test::TempDir dir;
};

TEST_F(FormatMatrix, ExtensibleWaveFilesConvertLikeTheirPlainCopies) {
    const auto s24 = cabinet(48000, 2, 24);
    writeWave("ext24.wav", extensibleFormat(1, 2, 48000, 24), FormatRecord{1, 2, 48000, 24}, s24);
    expectSameAsSoxCopy("ext24.wav", {"-e", "signed", "-b", "24"}, 1);
    const auto s16 = cabinet(44100, 1, 16);
    writeWave("ext16.wav", extensibleFormat(1, 1, 44100, 16), FormatRecord{1, 1, 44100, 16}, s16);
    expectSameAsSoxCopy("ext16.wav", {"-e", "signed", "-b", "16"});
    const auto s32 = cabinet(96000, 1, 32);
    writeWave("ext32.wav", extensibleFormat(1, 1, 96000, 32), FormatRecord{1, 1, 96000, 32}, s32);
    expectSameAsSoxCopy("ext32.wav", {"-e", "signed", "-b", "32"});
    const auto f = cabinet(48000, 2, 24);
    writeWave("extfloat.wav", extensibleFormat(3, 2, 48000, 32), FormatRecord{3, 2, 48000, 32}, f);
    expectSameAsSoxCopy("extfloat.wav", {"-e", "floating-point", "-b", "32"});
}

TEST_F(FormatMatrix, SixtyFourBitFloatWaveFilesConvertLikeTheirPlainCopies) {
    writeWave("plain.wav", FormatRecord{3, 1, 48000, 32}.bytes(), FormatRecord{3, 1, 48000, 32},
              cabinet(48000, 1, 24));
    ASSERT_NO_FATAL_FAILURE(
        soxConvert("plain.wav", "f64.wav", {"-e", "floating-point", "-b", "64"}));
    expectSameAsSoxCopy("f64.wav", {"-e", "floating-point", "-b", "32"});

    // Values a 32-bit float cannot hold are rounded to the nearest one.
    const std::vector<double> fine{0.0, 0.5 + 0x1p-30, -0.25 - 0x1p-29, 0x1p-40 * 3.0};
    Bytes body;
    for (double v : fine) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        test::putLe(body, bits, 8);
    }
    test::writeFile(file("fine.wav"),
                    test::riffWave({test::chunk("fmt ", FormatRecord{3, 1, 48000, 64}.bytes()),
                                    test::chunk("data", body)}));
    const Preparation p =
        prepareSource(file("fine.wav"), ChannelUse::AsStored, dir.path() + "tmp/");
    ASSERT_TRUE(std::holds_alternative<PreparedSource>(p));
    const Bytes copy = test::readFile(std::get<PreparedSource>(p).path);
    ASSERT_GE(copy.size(), fine.size() * 4);
    for (size_t i = 0; i < fine.size(); ++i) {
        float got;
        std::memcpy(&got, copy.data() + copy.size() - (fine.size() - i) * 4, 4);
        EXPECT_EQ(got, float(fine[i])) << i;
    }
}

TEST_F(FormatMatrix, AiffAndFlacFilesConvertLikeTheirPlainCopies) {
    writeWave("base16.wav", FormatRecord{1, 2, 44100, 16}.bytes(), FormatRecord{1, 2, 44100, 16},
              cabinet(44100, 2, 16));
    writeWave("base24.wav", FormatRecord{1, 1, 96000, 24}.bytes(), FormatRecord{1, 1, 96000, 24},
              cabinet(96000, 1, 24));
    writeWave("base24s.wav", FormatRecord{1, 2, 48000, 24}.bytes(), FormatRecord{1, 2, 48000, 24},
              cabinet(48000, 2, 24));
    ASSERT_NO_FATAL_FAILURE(soxConvert("base16.wav", "ir16.aiff", {}));
    ASSERT_NO_FATAL_FAILURE(soxConvert("base24.wav", "ir24.aif", {}));
    ASSERT_NO_FATAL_FAILURE(soxConvert("base16.wav", "ir16.flac", {}));
    ASSERT_NO_FATAL_FAILURE(soxConvert("base24s.wav", "ir24.flac", {}));
    expectSameAsSoxCopy("ir16.aiff", {"-e", "signed", "-b", "16"}, 1);
    expectSameAsSoxCopy("ir24.aif", {"-e", "signed", "-b", "24"});
    expectSameAsSoxCopy("ir16.flac", {"-e", "signed", "-b", "16"});
    expectSameAsSoxCopy("ir24.flac", {"-e", "signed", "-b", "24"}, 1);
    // Both channels mixed: (left + right) / 2, which sox computes exactly
    // for 24-bit samples too.
    expectSameAsSoxCopy("ir24.flac", {"-e", "floating-point", "-b", "32"}, 0, ChannelUse::Mix,
                        {"remix", "1v0.5,2v0.5"});
}

TEST_F(FormatMatrix, WaveFilesWithOddChunksConvertLikeTheirPlainCopies) {
    const FormatRecord f{1, 1, 48000, 16};
    const auto s = cabinet(48000, 1, 16);
    const Bytes data = test::encodeSamples(f, s);
    // Odd-sized chunks whose pad byte is not zero (the conversion's reader
    // only skips a zero one), before the data and before the format.
    const Bytes note{'n', 'o', 't', 'e', 's', '!', '?'};
    auto padded = [&](const char id[4]) {
        Bytes c = test::chunk(id, note);
        c.push_back(' ');
        return c;
    };
    writeWave("odd-list.wav", f.bytes(), f, s, {}, {padded("LIST")});
    expectSameAsSoxCopy("odd-list.wav", {"-e", "signed", "-b", "16"});
    writeWave("odd-junk.wav", f.bytes(), f, s, {padded("JUNK")});
    expectSameAsSoxCopy("odd-junk.wav", {"-e", "signed", "-b", "16"});
    // Written as a stream: the sizes were never filled in.
    Bytes streamed{'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'};
    const Bytes fmt = test::chunk("fmt ", f.bytes());
    streamed.insert(streamed.end(), fmt.begin(), fmt.end());
    streamed.insert(streamed.end(), {'d', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF});
    streamed.insert(streamed.end(), data.begin(), data.end());
    test::writeFile(file("streamed.wav"), streamed);
    expectSameAsSoxCopy("streamed.wav", {"-e", "signed", "-b", "16"});
    // RF64, the 64-bit form of RIFF.
    Bytes ds64;
    test::putLe(ds64, 0, 8);
    test::putLe(ds64, data.size(), 8);
    test::putLe(ds64, s.size(), 8);
    test::putLe(ds64, 0, 4);
    Bytes rf64 = streamed;
    std::memcpy(rf64.data(), "RF64", 4);
    const Bytes ds = test::chunk("ds64", ds64);
    rf64.insert(rf64.begin() + 12, ds.begin(), ds.end());
    test::writeFile(file("rf64.wav"), rf64);
    expectSameAsSoxCopy("rf64.wav", {"-e", "signed", "-b", "16"});

    // The data before the format (sox does not read it): the same samples
    // as a plain file.
    test::writeFile(file("data-first.wav"),
                    test::riffWave({test::chunk("data", data), test::chunk("fmt ", f.bytes())}));
    writeWave("data-first-plain.wav", f.bytes(), f, s);
    const Preparation p =
        prepareSource(file("data-first.wav"), ChannelUse::AsStored, dir.path() + "tmp/");
    ASSERT_TRUE(std::holds_alternative<PreparedSource>(p));
    EXPECT_TRUE(std::get<PreparedSource>(p).decoded);
    EXPECT_TRUE(bitIdentical(coefficientsOf(std::get<PreparedSource>(p).path, 0),
                             coefficientsOf(file("data-first-plain.wav"), 0)));
}

// 8-32-bit PCM at any rate and 32-bit float: the conversion reads them as
// they are, so they are handed to it unchanged, and convert as before.
TEST_F(FormatMatrix, FilesTheConversionTakesAreHandedToItUnchanged) {
    struct Plain {
        const char* name;
        FormatRecord format;
        int bits; // of the signal
    };
    const Plain plain[] = {
        {"pcm8-22k.wav", {1, 1, 22050, 8}, 8},      {"pcm16-44k.wav", {1, 2, 44100, 16}, 16},
        {"pcm24-88k.wav", {1, 1, 88200, 24}, 24},   {"pcm32-192k.wav", {1, 1, 192000, 32}, 32},
        {"float32-48k.wav", {3, 2, 48000, 32}, 24},
    };
    for (const Plain& p : plain) {
        SCOPED_TRACE(p.name);
        const auto s = cabinet(p.format.rate, p.format.channels, p.bits);
        writeWave(p.name, p.format.bytes(), p.format, s);
        const Preparation prepared =
            prepareSource(file(p.name), ChannelUse::AsStored, dir.path() + "tmp/");
        ASSERT_TRUE(std::holds_alternative<PreparedSource>(prepared));
        const PreparedSource& r = std::get<PreparedSource>(prepared);
        EXPECT_EQ(r.path, file(p.name));
        EXPECT_FALSE(r.decoded);
        EXPECT_TRUE(r.source.direct);
        EXPECT_EQ(r.source.sampleRate, p.format.rate);
    }
    // An odd chunk with a zero pad byte is read by the conversion too.
    const FormatRecord f{1, 1, 48000, 16};
    writeWave("zero-pad.wav", f.bytes(), f, cabinet(48000, 1, 16), {},
              {test::chunk("LIST", {'a', 'b', 'c'}, true)});
    const Preparation padded =
        prepareSource(file("zero-pad.wav"), ChannelUse::AsStored, dir.path() + "tmp/");
    ASSERT_TRUE(std::holds_alternative<PreparedSource>(padded));
    EXPECT_FALSE(std::get<PreparedSource>(padded).decoded);
    EXPECT_EQ(dir.entries(),
              (std::vector<std::string>{"float32-48k.wav", "pcm16-44k.wav", "pcm24-88k.wav",
                                        "pcm32-192k.wav", "pcm8-22k.wav", "tmp", "zero-pad.wav"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() + "tmp")) << "a copy was made";
}

// What holds no usable impulse response is refused with a reason, and
// nothing is left behind.
TEST_F(FormatMatrix, FilesWithoutAnExactMonoOrStereoResponseAreRefusedWithAReason) {
    writeWave("base.wav", FormatRecord{1, 2, 44100, 16}.bytes(), FormatRecord{1, 2, 44100, 16},
              cabinet(44100, 2, 16));
    ASSERT_NO_FATAL_FAILURE(soxConvert("base.wav", "lossy.ogg", {}));
    writeWave("quad.wav", extensibleFormat(1, 4, 48000, 24), FormatRecord{1, 4, 48000, 24},
              cabinet(48000, 4, 24));
    std::ofstream(file("text.wav")) << "not audio at all";
    ASSERT_EQ(::mkfifo(file("pipe.wav").c_str(), 0600), 0);
    const struct {
        const char* name;
        const char* reason;
    } refused[] = {
        {"lossy.ogg", "lossy"},
        {"quad.wav", "4 channels"},
        {"text.wav", "not an audio file"},
        {"pipe.wav", "not a regular file"},
        {"missing.wav", "No such file"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.name);
        const Preparation p =
            prepareSource(file(r.name), ChannelUse::AsStored, dir.path() + "tmp/");
        ASSERT_TRUE(std::holds_alternative<SourceRefusal>(p));
        EXPECT_NE(std::get<SourceRefusal>(p).reason.find(r.reason), std::string::npos)
            << std::get<SourceRefusal>(p).reason;
    }
    // A mono file has nothing to mix; a stereo one the conversion takes is
    // mixed into a copy.
    writeWave("mono.wav", FormatRecord{1, 1, 44100, 16}.bytes(), FormatRecord{1, 1, 44100, 16},
              cabinet(44100, 1, 16));
    EXPECT_TRUE(std::holds_alternative<SourceRefusal>(
        prepareSource(file("mono.wav"), ChannelUse::Mix, dir.path() + "tmp/")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() + "tmp"));
    const Preparation mixed = prepareSource(file("base.wav"), ChannelUse::Mix, dir.path() + "tmp/");
    ASSERT_TRUE(std::holds_alternative<PreparedSource>(mixed));
    EXPECT_TRUE(std::get<PreparedSource>(mixed).mixed);
    EXPECT_EQ(std::get<PreparedSource>(mixed).written.channels, 1);
}

} // namespace
} // namespace kx5
