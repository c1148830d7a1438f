// The audition's rendering: the convolution is the textbook sum, an IR is
// taken as the conversion takes it and brought to the phrase's rate, and the
// levels the page matches are those of the rendering.
#include "audition/audition_sources.h"
#include "audition/convolver.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace kx5 {
namespace {

std::vector<float> noise(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v)
        x = d(random);
    return v;
}

TEST(AuditionRendering, TheConvolutionIsTheDirectSum) {
    for (const auto& [n, m] :
         {std::pair<size_t, size_t>{1, 1}, {5, 3}, {1000, 257}, {4096, 4097}}) {
        const auto x = noise(n, 1), h = noise(m, 2);
        const auto y = convolve(x, h);
        ASSERT_EQ(y.size(), n + m - 1);
        double worst = 0;
        for (size_t k = 0; k < y.size(); ++k) {
            double sum = 0;
            for (size_t i = k >= m - 1 ? k - (m - 1) : 0; i <= k && i < n; ++i)
                sum += double(x[i]) * h[k - i];
            worst = std::max(worst, std::fabs(sum - y[k]));
        }
        EXPECT_LT(worst, 1e-4 * std::sqrt(double(m))) << n << " x " << m;
    }
    EXPECT_TRUE(convolve({}, {1.0f}).empty());
}

TEST(AuditionRendering, TheIrIsWhatTheConversionTakesAtThePhrasesRate) {
    test::TempDir dir;
    // 100 silent frames, then an impulse and a short decay; stereo with a
    // right channel at half level.
    std::vector<double> stereo;
    for (int i = 0; i < 4800; ++i) {
        const double v = i < 100 ? 0.0 : 0.5 * std::exp(-(i - 100) / 200.0);
        stereo.push_back(v);
        stereo.push_back(v / 2);
    }
    test::writeFile(dir.file("ir.wav"), test::simpleWave({1, 2, 48000, 24}, stereo));
    auto right = readAuditionIr(dir.file("ir.wav"), 1, dir.path());
    ASSERT_TRUE(std::holds_alternative<MonoSound>(right)) << std::get<SourceRefusal>(right).reason;
    const MonoSound& r = std::get<MonoSound>(right);
    EXPECT_EQ(r.rate, 48000u);
    ASSERT_EQ(r.samples.size(), 4700u) << "from the first audible frame on";
    EXPECT_NEAR(r.samples[0], 0.25, 1e-6);
    auto mixed = readAuditionIr(dir.file("ir.wav"), 2, dir.path());
    ASSERT_TRUE(std::holds_alternative<MonoSound>(mixed));
    EXPECT_NEAR(std::get<MonoSound>(mixed).samples[0], 0.375, 1e-6);

    // At 44.1 kHz it keeps its length in time and its gain at 0 Hz.
    const auto at44 = resampled(r.samples, 48000, 44100);
    EXPECT_NEAR(double(at44.size()), 4700.0 * 44100 / 48000, 40);
    double sum48 = 0, sum44 = 0;
    for (float v : r.samples)
        sum48 += v;
    for (float v : at44)
        sum44 += v;
    EXPECT_NEAR(sum44 * 48000 / 44100, sum48, 0.01 * sum48);

    // A slot's IR as the page writes it: 32-bit float at 96 kHz.
    test::writeFile(dir.file("slot.wav"),
                    test::simpleWave({3, 1, 96000, 32}, {0.5, -0.25, 0.125, 0.0625}));
    auto slot = readAuditionIr(dir.file("slot.wav"), 0, dir.path());
    ASSERT_TRUE(std::holds_alternative<MonoSound>(slot)) << std::get<SourceRefusal>(slot).reason;
    EXPECT_EQ(std::get<MonoSound>(slot).rate, 96000u);
    EXPECT_EQ(std::get<MonoSound>(slot).samples,
              (std::vector<float>{0.5f, -0.25f, 0.125f, 0.0625f}));

    // A silent file has nothing to play.
    test::writeFile(dir.file("silent.wav"),
                    test::simpleWave({1, 1, 48000, 16}, std::vector<double>(480, 0.0)));
    EXPECT_TRUE(std::holds_alternative<SourceRefusal>(
        readAuditionIr(dir.file("silent.wav"), 0, dir.path())));
}

TEST(AuditionRendering, ADiRecordingIsMixedToOneChannelAndCutToItsFirstSeconds) {
    test::TempDir dir;
    constexpr uint32_t kRate = 8000;
    const size_t frames = size_t((kMaxPhraseSeconds + 2) * kRate);
    std::vector<double> stereo;
    for (size_t i = 0; i < frames; ++i) {
        stereo.push_back(0.5);
        stereo.push_back(i % 2 ? 0.25 : -0.25);
    }
    test::writeFile(dir.file("di.wav"), test::simpleWave({1, 2, kRate, 16}, stereo));
    const auto read = readDiPhrase(dir.file("di.wav"));
    ASSERT_TRUE(std::holds_alternative<MonoSound>(read)) << std::get<SourceRefusal>(read).reason;
    const MonoSound& di = std::get<MonoSound>(read);
    EXPECT_EQ(di.rate, kRate);
    EXPECT_EQ(di.samples.size(), size_t(kMaxPhraseSeconds * kRate));
    EXPECT_NEAR(di.samples[0], 0.125, 1e-4);
    EXPECT_NEAR(di.samples[1], 0.375, 1e-4);
    test::writeFile(dir.file("text.wav"), test::Bytes{0x6e, 0x6f, 0x74});
    EXPECT_TRUE(std::holds_alternative<SourceRefusal>(readDiPhrase(dir.file("text.wav"))));
}

TEST(AuditionRendering, LevelsAreThoseOfTheRendering) {
    MonoSound phrase{std::vector<float>(1000, 0.0f), 48000};
    phrase.samples[10] = 1.0f;
    const MonoSound ir{{0.5f, -0.25f}, 48000};
    const Rendering r = renderThrough(phrase, ir);
    ASSERT_EQ(r.samples.size(), 1001u);
    EXPECT_NEAR(r.samples[10], 0.5, 1e-6);
    EXPECT_NEAR(r.samples[11], -0.25, 1e-6);
    EXPECT_NEAR(r.peakDb, 20 * std::log10(0.5), 1e-4);
    EXPECT_NEAR(r.rmsDb, 10 * std::log10((0.25 + 0.0625) / 1001), 1e-3);
}

} // namespace
} // namespace kx5
