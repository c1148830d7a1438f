// The product's conversion against a literal, term-by-term reading of it on
// generated impulse responses of many rates, widths and lengths: every one
// of the 3354 values equal or within one unit in the last place.
#include "ir/coefficient_file.h"
#include "ir/ir_conversion.h"
#include "ir/source_loader.h"
#include "ir/wave_file.h"
#include "tests/ir/generated_ir.h"
#include "tests/ir/literal_conversion.h"
#include "tests/ir/ulp_distance.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>

namespace kx5 {
namespace {

struct Case {
    uint32_t rate;
    uint16_t channels;
    uint16_t tag;
    uint16_t bits;
    int frames;
    int silent; // leading frames below the threshold on the first channel
    int channel;
    uint32_t seed;
    double floorLevel = 0.0; // noise floor; 0: 70-90 dB below the peak
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.rate << " Hz, " << c.channels << " ch, tag " << c.tag << "/" << c.bits << ", "
        << c.frames << " frames, silent " << c.silent << ", ch " << c.channel;
}

class FastAgainstLiteral : public ::testing::TestWithParam<Case> {};

TEST_P(FastAgainstLiteral, SameValuesWithinOneUlp) {
    const Case c = GetParam();
    std::vector<double> interleaved;
    const auto first =
        test::generateImpulseResponse(c.seed, int(c.rate), c.frames, c.silent, c.floorLevel);
    const auto second = test::generateImpulseResponse(c.seed + 100, int(c.rate), c.frames, 0);
    for (int i = 0; i < c.frames; ++i) {
        interleaved.push_back(first[size_t(i)]);
        if (c.channels == 2) interleaved.push_back(second[size_t(i)]);
    }
    test::TempDir folder;
    const std::string path = folder.file("ir.wav");
    test::writeFile(
        path, test::simpleWave(test::FormatRecord{c.tag, c.channels, c.rate, c.bits}, interleaved));

    // The literal reading gets the file's samples as decoded.
    test::LiteralSource literalSource;
    literalSource.channels = c.channels;
    literalSource.rate = int(c.rate);
    {
        CWaveFile wave;
        ASSERT_EQ(wave.open(path), CWaveFile::OpenResult::Opened);
        literalSource.samples.resize(interleaved.size());
        ASSERT_EQ(wave.readSamples(literalSource.samples.data(), uint32_t(interleaved.size())),
                  interleaved.size());
    }
    const test::LiteralOutcome literal = test::literalConversion(literalSource, c.channel);
    ASSERT_TRUE(literal.usable);

    auto state = std::make_unique<ConversionState>();
    ASSERT_EQ(loadConversionSource(path, c.channel, *state), LoadResult::Loaded);
    std::atomic<bool> abandon{false};
    ASSERT_EQ(runConversion(*state, abandon), ConversionOutcome::Converted);
    EXPECT_EQ(state->length96k, literal.length96k);
    EXPECT_EQ(state->leadSilence, literal.leadSilence);
    const std::vector<float> fast = coefficientValues(*state);
    ASSERT_EQ(fast.size(), literal.values.size());
    int different = 0;
    for (size_t i = 0; i < fast.size(); ++i) {
        different += fast[i] != literal.values[i];
        EXPECT_LE(test::ulpDistance(fast[i], literal.values[i]), 1)
            << "value " << i << ": " << fast[i] << " vs " << literal.values[i];
    }
    RecordProperty("values_not_bit_identical", different);
}

// Short responses cover the rates and formats; two full half-second ones
// cover the full-size transform and resampling.
INSTANTIATE_TEST_SUITE_P(
    GeneratedResponses, FastAgainstLiteral,
    ::testing::Values(
        Case{48000, 1, 1, 16, 1500, 0, 0, 1}, Case{44100, 1, 1, 24, 1400, 50, 0, 2},
        Case{96000, 1, 3, 32, 3000, 0, 0, 3}, Case{88200, 1, 1, 24, 2800, 7, 0, 4},
        Case{192000, 1, 3, 32, 6000, 0, 0, 5}, Case{176400, 1, 1, 24, 5600, 20, 0, 6},
        Case{22050, 1, 1, 16, 700, 0, 0, 7}, Case{32000, 1, 3, 32, 1000, 3, 0, 8},
        Case{8000, 1, 1, 16, 250, 0, 0, 9}, Case{11025, 1, 1, 24, 350, 0, 0, 10},
        Case{44101, 1, 3, 32, 1400, 0, 0, 11}, Case{47999, 1, 3, 32, 1500, 0, 0, 12},
        Case{48000, 2, 1, 24, 1500, 0, 0, 13}, Case{48000, 2, 1, 24, 1500, 100, 1, 14},
        Case{44100, 2, 3, 32, 1400, 0, 1, 15}, Case{96000, 2, 1, 16, 3000, 300, 0, 16},
        Case{352800, 1, 3, 32, 11000, 0, 0, 17}, Case{16000, 1, 1, 32, 500, 0, 0, 18},
        Case{24000, 1, 1, 8, 1200, 0, 0, 19, 0x1p-5}, Case{64000, 1, 3, 32, 2000, 0, 0, 20},
        Case{44100, 1, 1, 24, 700, 0, 0, 21}, Case{96000, 1, 1, 24, 900, 0, 0, 22},
        Case{48000, 1, 3, 32, 24000, 0, 0, 23}, Case{96000, 1, 1, 24, 48000, 0, 0, 24}));

// After a short response a file may hold exact digital silence. With fewer
// than 1640 taps above it the selection keeps values down to 2^-50: there
// the literal reading's own result is rounding noise (its transform round
// trip alone changes such values), so which of them are kept can differ.
// Every tap that is not noise agrees.
TEST(FastAgainstLiteralSilentTail, TapsAboveTheRoundingNoiseAgree) {
    std::vector<double> samples = test::generateImpulseResponse(19, 24000, 800, 0, 1e-9);
    for (size_t i = 300; i < samples.size(); ++i)
        samples[i] = 0.0;
    test::TempDir folder;
    const std::string path = folder.file("ir.wav");
    test::writeFile(path, test::simpleWave(test::FormatRecord{1, 1, 24000, 16}, samples));
    test::LiteralSource literalSource;
    literalSource.rate = 24000;
    {
        CWaveFile wave;
        ASSERT_EQ(wave.open(path), CWaveFile::OpenResult::Opened);
        literalSource.samples.resize(samples.size());
        ASSERT_EQ(wave.readSamples(literalSource.samples.data(), uint32_t(samples.size())),
                  samples.size());
    }
    const test::LiteralOutcome literal = test::literalConversion(literalSource, 0);
    ASSERT_TRUE(literal.usable);
    auto state = std::make_unique<ConversionState>();
    ASSERT_EQ(loadConversionSource(path, 0, *state), LoadResult::Loaded);
    std::atomic<bool> abandon{false};
    ASSERT_EQ(runConversion(*state, abandon), ConversionOutcome::Converted);
    const std::vector<float> fast = coefficientValues(*state);

    // Position -> value of the taps above 1e-9 of the largest.
    auto significant = [](const std::vector<float>& v) {
        float peak = 0.0f;
        for (int i = 0; i < 1640; ++i)
            peak = std::max(peak, std::fabs(v[size_t(i)]));
        std::map<float, float> taps;
        for (int i = 0; i < 1640; ++i)
            if (std::fabs(v[size_t(i)]) > 1e-9f * peak) taps[v[size_t(1640 + i)]] = v[size_t(i)];
        return taps;
    };
    const auto a = significant(fast), b = significant(literal.values);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_GT(a.size(), 100u);
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
        ASSERT_EQ(i->first, j->first);
        EXPECT_LE(test::ulpDistance(i->second, j->second), 1) << i->first * 16384;
    }
}

} // namespace
} // namespace kx5
