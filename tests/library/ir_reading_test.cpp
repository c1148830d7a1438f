// Reading candidates for the library (descriptions, reasons for refusal)
// and what the analysis makes of known sounds.
#include "library/ir_analysis.h"
#include "library/ir_file_reader.h"
#include "tests/library/library_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/forked_child.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

using namespace kx5;
using namespace kx5::test;

namespace {

std::string reasonFor(const std::string& path) {
    const IrReadResult r = readIrFile(path, 0.5);
    const auto* u = std::get_if<IrUnreadable>(&r);
    return u ? u->reason : std::string("(read)");
}

const IrAudio& audioOf(const IrReadResult& r) {
    static const IrAudio none;
    const auto* a = std::get_if<IrAudio>(&r);
    EXPECT_TRUE(a) << std::get<IrUnreadable>(r).reason;
    return a ? *a : none;
}

std::vector<float> toFloat(const std::vector<double>& v) {
    return std::vector<float>(v.begin(), v.end());
}

size_t peakPoint(const Thumbnail& t) {
    return size_t(std::max_element(t.begin(), t.end()) - t.begin());
}

class IrReading : public ::testing::Test {
  protected:
    std::string file(const std::string& name) const { return dir.path() + name; }
    TempDir dir;
};

} // namespace

TEST_F(IrReading, DescribesEveryKindTheConversionReads) {
    const auto sound = filterResponse(2000, 48000, 4800);
    struct Kind {
        FormatRecord f;
        const char* format;
    };
    FormatRecord f8 = pcm(44100, 8), f16 = pcm(48000, 16, 2), f24 = pcm(96000, 24),
                 f32 = pcm(88200, 32), flt = pcm(192000, 32, 2);
    flt.tag = 3;
    for (const Kind& k : {Kind{f8, "wav-pcm"}, Kind{f16, "wav-pcm"}, Kind{f24, "wav-pcm"},
                          Kind{f32, "wav-pcm"}, Kind{flt, "wav-float"}}) {
        const std::string path = file("ir" + std::to_string(k.f.bits) + ".wav");
        writeIr(path, k.f, sound);
        const IrReadResult r = readIrFile(path, 0.05);
        const IrAudio& a = audioOf(r);
        EXPECT_EQ(a.format, k.format);
        EXPECT_EQ(a.sampleRate, k.f.rate);
        EXPECT_EQ(a.bits, k.f.bits);
        EXPECT_EQ(a.channels, k.f.channels);
        EXPECT_EQ(a.frames, 4800u);
        // At most 50 ms of the first channel is read.
        EXPECT_EQ(a.firstChannel.size(), std::min<size_t>(4800, size_t(k.f.rate * 0.05)));
        EXPECT_NEAR(a.firstChannel[1], sound[1], k.f.bits == 8 ? 0.01 : 1e-4);
    }
}

// What the conversion does not read itself is decoded: the same sound
// gives the same description, samples and key in every container.
TEST_F(IrReading, DescribesTheKindsTheHostDecodesAsTheSameSound) {
    const auto sound = filterResponse(1500, 48000, 4800);
    writeIr(file("plain.wav"), pcm(48000, 24, 2), sound);
    FormatRecord twenty = pcm(48000, 20, 2);
    twenty.blockAlign = 6;
    Bytes samples;
    for (double v : sound)
        for (int c = 0; c < 2; ++c) // 20 significant bits, left-justified in 24
            putLe(samples, uint32_t(int32_t(std::lround(v * 0x1p19)) << 4), 3);
    writeFile(file("twenty.wav"),
              riffWave({chunk("fmt ", twenty.bytes()), chunk("data", samples)}));
    ASSERT_EQ(runCommand({"sox", "-D", file("plain.wav"), file("same.flac")}), 0);
    ASSERT_EQ(runCommand({"sox", "-D", file("plain.wav"), file("same.aiff")}), 0);
    ASSERT_EQ(runCommand({"sox", "-D", file("plain.wav"), "-t", "wav", file("extensible.wav")}), 0);
    const IrAudio plain = audioOf(readIrFile(file("plain.wav"), 0.5));
    ASSERT_EQ(plain.format, "wav-pcm");
    for (const auto& [name, format] : {std::pair{"same.flac", "flac-pcm"},
                                       {"same.aiff", "aiff-pcm"},
                                       {"extensible.wav", "wav-pcm"}}) {
        SCOPED_TRACE(name);
        const IrAudio a = audioOf(readIrFile(file(name), 0.5));
        EXPECT_EQ(a.format, format);
        EXPECT_EQ(a.bits, 24u);
        EXPECT_EQ(a.channels, 2u);
        EXPECT_EQ(a.frames, 4800u);
        EXPECT_EQ(a.firstChannel, plain.firstChannel);
        EXPECT_EQ(a.contentKey, plain.contentKey);
    }
    const IrAudio a20 = audioOf(readIrFile(file("twenty.wav"), 0.5));
    EXPECT_EQ(a20.bits, 20u);
    EXPECT_NEAR(a20.firstChannel[10], sound[10], 0x1p-19);
}

TEST_F(IrReading, RefusesWhatCannotBeLoadedWithAReason) {
    const auto sound = filterResponse(1000, 48000, 2000);
    std::ofstream(file("text.wav")) << "just some text, not audio at all";
    EXPECT_EQ(reasonFor(file("text.wav")),
              "not an audio file this program reads (WAV, AIFF, FLAC)");

    writeFile(file("nodata.wav"), riffWave({chunk("fmt ", pcm(48000).bytes())}));
    EXPECT_EQ(reasonFor(file("nodata.wav")), "damaged WAV file (no format or sample data)");

    FormatRecord extensible = pcm(48000);
    extensible.tag = 0xFFFE;
    extensible.extraBytes = 22;
    writeIr(file("ext.wav"), extensible, sound);
    EXPECT_EQ(reasonFor(file("ext.wav")), "extensible WAV file whose sample format cannot be read");

    FormatRecord adpcm = pcm(48000, 4);
    adpcm.tag = 2;
    adpcm.blockAlign = 1;
    writeFile(file("adpcm.wav"),
              riffWave({chunk("fmt ", adpcm.bytes()), chunk("data", Bytes(100, 0x11))}));
    EXPECT_EQ(reasonFor(file("adpcm.wav")),
              "ADPCM Microsoft is a lossy format: it holds no exact impulse response");

    writeIr(file("surround.wav"), pcm(48000, 16, 6), sound);
    EXPECT_EQ(reasonFor(file("surround.wav")), "6 channels (the unit takes mono or stereo)");

    // The header announces more samples than the file holds.
    Bytes cut = simpleWave(pcm(48000, 24), sound);
    cut.resize(cut.size() - 30);
    writeFile(file("cut.wav"), cut);
    EXPECT_EQ(reasonFor(file("cut.wav")),
              "damaged: the samples end before the length its header gives");

    writeIr(file("silent.wav"), pcm(48000, 16), std::vector<double>(48000, 0.0005));
    EXPECT_EQ(reasonFor(file("silent.wav")), "silent: nothing audible to load");

    FormatRecord flt = pcm(48000, 32);
    flt.tag = 3;
    std::vector<double> nan = sound;
    nan[10] = std::nan("");
    writeIr(file("nan.wav"), flt, nan);
    EXPECT_EQ(reasonFor(file("nan.wav")), "damaged: samples that are not numbers");

    ASSERT_EQ(mkfifo(file("pipe.wav").c_str(), 0600), 0);
    EXPECT_EQ(reasonFor(file("pipe.wav")), "not a regular file");
    EXPECT_EQ(reasonFor(file("missing.wav")), "No such file or directory");
}

TEST_F(IrReading, AFileItsOwnerMayNotReadIsRefusedWithTheSystemsReason) {
    const std::string path = file("locked.wav");
    writeIr(path, pcm(48000), filterResponse(1000, 48000, 2000));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    // Root reads anything: the reading then runs as "nobody".
    const ForkedResult r = runForked([&](int& code) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) code = 2;
        return code ? std::string() : reasonFor(path);
    });
    ASSERT_TRUE(r.exited && r.code == 0) << r.code;
    EXPECT_EQ(r.text, "Permission denied");
}

TEST_F(IrReading, TheContentKeyFollowsTheSoundNotTheName) {
    const auto a = filterResponse(1000, 48000, 3000);
    auto b = a;
    b[100] += 0.001;
    writeIr(file("one.wav"), pcm(48000), a);
    writeIr(file("sub/renamed copy.wav"), pcm(48000), a);
    writeIr(file("other.wav"), pcm(48000), b);
    writeIr(file("stereo.wav"), pcm(48000, 24, 2), a);
    const uint64_t one = audioOf(readIrFile(file("one.wav"), 0.5)).contentKey;
    EXPECT_EQ(audioOf(readIrFile(file("sub/renamed copy.wav"), 0.5)).contentKey, one);
    EXPECT_NE(audioOf(readIrFile(file("other.wav"), 0.5)).contentKey, one);
    EXPECT_NE(audioOf(readIrFile(file("stereo.wav"), 0.5)).contentKey, one);
}

TEST(IrAnalysis, TheThumbnailShowsWhereTheSoundIs) {
    IrAnalyser analyser;
    constexpr uint32_t rate = 48000;
    // A decaying 1 kHz tone.
    std::vector<float> tone(rate / 4);
    for (size_t i = 0; i < tone.size(); ++i) {
        const double t = double(i) / rate;
        tone[i] = float(0.5 * std::exp(-t / 0.03) * std::sin(2 * M_PI * 1000.0 * t));
    }
    const IrSound s = analyser.analyse(tone.data(), tone.size(), rate);
    EXPECT_NEAR(thumbnailFrequency(peakPoint(s.thumbnail)), 1000.0, 70.0);
    EXPECT_GT(s.brightnessHz, 900.0);
    EXPECT_LT(s.brightnessHz, 1500.0);

    // A low-pass is darker than the same filter's high-pass, and both
    // curves fall where the filter cuts.
    const IrSound dark =
        analyser.analyse(toFloat(filterResponse(500, rate, 9600)).data(), 9600, rate);
    const IrSound bright =
        analyser.analyse(toFloat(filterResponse(4000, rate, 9600, true)).data(), 9600, rate);
    EXPECT_LT(dark.brightnessHz, 1500.0);
    EXPECT_GT(bright.brightnessHz, 5000.0);
    EXPECT_GT(dark.thumbnail[5], dark.thumbnail[60] + 40);
    EXPECT_LT(bright.thumbnail[5], bright.thumbnail[60] - 40);

    // Points above a low rate's Nyquist frequency sit on the floor.
    const IrSound low =
        analyser.analyse(toFloat(filterResponse(500, 16000, 4000)).data(), 4000, 16000);
    EXPECT_EQ(low.thumbnail[63], kThumbnailFloorDb);
    EXPECT_GT(low.thumbnail[0], kThumbnailFloorDb);
}

TEST(IrAnalysis, DistanceComparesShapesNotLevelsAndGrowsWithTheDifference) {
    IrAnalyser analyser;
    constexpr uint32_t rate = 48000;
    const auto curve = [&](double hz, double gain = 0.8) {
        return analyser
            .analyse(toFloat(filterResponse(hz, rate, 9600, false, gain)).data(), 9600, rate)
            .thumbnail;
    };
    const Thumbnail ref = curve(1000);
    EXPECT_NEAR(thumbnailDistance(ref, ref), 0.0, 1e-9);
    EXPECT_NEAR(thumbnailDistance(ref, curve(1000, 0.05)), 0.0, 0.05);
    const double d12 = thumbnailDistance(ref, curve(1200));
    const double d20 = thumbnailDistance(ref, curve(2000));
    const double d40 = thumbnailDistance(ref, curve(4000));
    EXPECT_LT(d12, d20);
    EXPECT_LT(d20, d40);
    EXPECT_DOUBLE_EQ(thumbnailDistance(curve(2000), ref), d20);
}
