// The conversion pipeline: loading rules, lengths, progress, tap selection,
// tail analysis and the coefficient file's layout.
#include "ir/coefficient_file.h"
#include "ir/conversion_state.h"
#include "ir/ir_conversion.h"
#include "ir/source_loader.h"
#include "ir/tap_selection.h"
#include "tests/ir/generated_ir.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace kx5 {
namespace {

using test::FormatRecord;

class Conversion : public ::testing::Test {
  protected:
    // Writes a file and loads it into the state.
    LoadResult load(const FormatRecord& f, const std::vector<double>& samples, int channel = 0) {
        const std::string path = folder.file("ir.wav");
        test::writeFile(path, test::simpleWave(f, samples));
        return loadConversionSource(path, channel, *state);
    }
    ConversionOutcome convert() { return runConversion(*state, abandon); }

    test::TempDir folder;
    std::unique_ptr<ConversionState> state = std::make_unique<ConversionState>();
    std::atomic<bool> abandon{false};
};

std::vector<double> withSilence(int rate, int silent, int frames) {
    std::vector<double> s = test::generateImpulseResponse(11, rate, frames + silent, silent);
    // Just below the threshold (16-bit 63/32768) counts as silence.
    for (int i = 0; i < silent; ++i)
        s[size_t(i)] = (i % 2 ? 63.0 : -63.0) / 32768.0;
    return s;
}

TEST_F(Conversion, LeadingSilenceIsCountedIn96kSamples) {
    struct Case {
        int rate, silent, expected;
    };
    for (const Case c :
         {Case{96000, 1000, 1000}, Case{48000, 1000, 2000}, Case{44100, 1000, 2176}}) {
        SCOPED_TRACE(c.rate);
        ASSERT_EQ(
            load(FormatRecord{1, 1, uint32_t(c.rate), 16}, withSilence(c.rate, c.silent, 3000)),
            LoadResult::Loaded);
        EXPECT_EQ(state->leadSilence, c.expected);
        EXPECT_EQ(state->sourceFrames, 3000);
    }
    // 64/32768 = 2^-9 exactly is audible.
    std::vector<double> s = withSilence(48000, 10, 100);
    s[5] = 64.0 / 32768.0;
    ASSERT_EQ(load(FormatRecord{1, 1, 48000, 16}, s), LoadResult::Loaded);
    EXPECT_EQ(state->leadSilence, 10);
}

TEST_F(Conversion, LengthsAtHalfASecond) {
    // 48 kHz, 24000 frames, no silence: 48000 samples at 96 kHz.
    ASSERT_EQ(load(FormatRecord{1, 1, 48000, 24}, test::generateImpulseResponse(1, 48000, 24000)),
              LoadResult::Loaded);
    EXPECT_EQ(state->leadSilence, 0);
    ASSERT_EQ(convert(), ConversionOutcome::Converted);
    EXPECT_EQ(state->length96k, 48000);
    // Longer files are cut to half a second.
    ASSERT_EQ(load(FormatRecord{3, 1, 44100, 32}, test::generateImpulseResponse(2, 44100, 30000)),
              LoadResult::Loaded);
    EXPECT_EQ(state->sourceFrames, 22050);
    // 192 kHz: used whole and downsampled to trunc(40000 * 0.5 + 0.5).
    ASSERT_EQ(load(FormatRecord{1, 1, 192000, 16}, test::generateImpulseResponse(3, 192000, 40000)),
              LoadResult::Loaded);
    EXPECT_EQ(state->sourceFrames, 40000);
    ASSERT_EQ(convert(), ConversionOutcome::Converted);
    EXPECT_EQ(state->length96k, 20000);
    // Above 96 kHz more than 48000 frames do not fit: cut to 48000.
    ASSERT_EQ(
        load(FormatRecord{1, 1, 192000, 16}, test::generateImpulseResponse(4, 192000, 100000)),
        LoadResult::Loaded);
    EXPECT_EQ(state->sourceFrames, 48000);
    ASSERT_EQ(convert(), ConversionOutcome::Converted);
    EXPECT_EQ(state->length96k, 24000);
}

TEST_F(Conversion, StereoRightChannelWithSilenceJudgedOnTheLeft) {
    const int frames = 2000, silentLeft = 300;
    const std::vector<double> left = withSilence(48000, silentLeft, frames - silentLeft);
    const std::vector<double> right = test::generateImpulseResponse(5, 48000, frames);
    std::vector<double> interleaved;
    for (int i = 0; i < frames; ++i) {
        interleaved.push_back(left[size_t(i)]);
        interleaved.push_back(right[size_t(i)]);
    }
    FormatRecord f{3, 2, 48000, 32};
    ASSERT_EQ(load(f, interleaved, 1), LoadResult::Loaded);
    EXPECT_EQ(state->leadSilence, 600);
    EXPECT_EQ(state->sourceChannels, 2);
    ASSERT_EQ(state->sourceFrames, frames - silentLeft);
    EXPECT_EQ(state->source[0], double(float(right[silentLeft])));
    EXPECT_EQ(state->source[1], double(float(right[silentLeft + 1])));
    ASSERT_EQ(load(f, interleaved, 0), LoadResult::Loaded);
    EXPECT_EQ(state->source[0], double(float(left[silentLeft])));
}

TEST_F(Conversion, UnusableFilesAreRefusedAtLoad) {
    EXPECT_EQ(loadConversionSource("", 0, *state), LoadResult::NotFound);
    EXPECT_EQ(loadConversionSource(folder.file("none.wav"), 0, *state), LoadResult::Unsupported);
    EXPECT_EQ(load(FormatRecord{1, 1, 48000, 16}, std::vector<double>(500, 0.001)),
              LoadResult::Unsupported); // silent throughout
    FormatRecord zeroAlign{1, 1, 48000, 16};
    zeroAlign.blockAlign = 0;
    EXPECT_EQ(load(zeroAlign, {0.5, 0.5}), LoadResult::Unsupported);
    FormatRecord noRate{1, 1, 0, 16};
    EXPECT_EQ(load(noRate, {0.5, 0.5}), LoadResult::Unsupported);
    // One frame at 400 kHz resamples to nothing.
    EXPECT_EQ(load(FormatRecord{1, 1, 400000, 16}, {0.5}), LoadResult::Unsupported);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(load(FormatRecord{3, 1, 48000, 32}, {0.5, nan, 0.1}), LoadResult::Unsupported);
    EXPECT_EQ(load(FormatRecord{3, 1, 48000, 32}, {0.5, INFINITY}), LoadResult::Unsupported);
    // Fewer samples than announced.
    test::Bytes cut =
        test::simpleWave(FormatRecord{1, 1, 48000, 16}, std::vector<double>(100, 0.5));
    cut.resize(cut.size() - 2);
    test::writeFile(folder.file("cut.wav"), cut);
    EXPECT_EQ(loadConversionSource(folder.file("cut.wav"), 0, *state), LoadResult::Unsupported);
    EXPECT_EQ(load(FormatRecord{1, 1, 48000, 20}, {0.5}), LoadResult::Unsupported);
}

TEST_F(Conversion, ExtremeSampleValuesStayFinite) {
    // The largest float values: the level normalisation scales them down.
    std::vector<double> s(4000);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = (i % 3 ? -3.4e38 : 3.4e38);
    ASSERT_EQ(load(FormatRecord{3, 1, 44100, 32}, s), LoadResult::Loaded);
    ASSERT_EQ(convert(), ConversionOutcome::Converted);
    for (float v : coefficientValues(*state))
        ASSERT_TRUE(std::isfinite(v));
}

TEST_F(Conversion, FileLayout) {
    ASSERT_EQ(
        load(FormatRecord{1, 1, 48000, 24}, test::generateImpulseResponse(9, 48000, 6000, 37)),
        LoadResult::Loaded);
    ASSERT_EQ(convert(), ConversionOutcome::Converted);
    const std::vector<float> v = coefficientValues(*state);
    ASSERT_EQ(v.size(), 3354u);
    const std::string path = folder.file(kCoefficientFileName);
    ASSERT_TRUE(writeCoefficientFile(path, v));
    const test::Bytes bytes = test::readFile(path);
    ASSERT_EQ(bytes.size(), 13416u);
    EXPECT_EQ(test::Bytes(bytes.end() - 4, bytes.end()), (test::Bytes{0x00, 0x00, 0x80, 0x3F}));
    EXPECT_EQ(v[13408 / 4], 74.0f); // 37 frames at 48 kHz
    // Taps and their positions pair up; positions rise in steps of 2^-13.
    int taps = 0;
    while (taps < 1640 && v[size_t(taps)] != 0.0f)
        ++taps;
    EXPECT_GT(taps, 100);
    for (int i = 0; i < 1640; ++i) {
        const float pos = v[size_t(1640 + i)];
        if (i < taps) {
            EXPECT_EQ(pos, float(int(pos * 16384.0f)) / 16384.0f);
            if (i > 0) {
                EXPECT_GT(pos, v[size_t(1640 + i - 1)]);
            }
            EXPECT_LT(pos * 16384.0f, float(state->loopTarget[0]));
        } else {
            EXPECT_EQ(v[size_t(i)], 0.0f);
            EXPECT_EQ(pos, 0.2490234375f);
        }
    }
    for (int m = 0; m < 24; ++m) {
        const float target = v[size_t(3280 + m)];
        EXPECT_EQ(target, state->loopTarget[m] > 2 ? float(state->loopTarget[m] - 2) : 1.0f);
        EXPECT_EQ(v[size_t(3304 + m)], float(state->loopSource[m]) / 16384.0f);
        EXPECT_EQ(v[size_t(3328 + m)], float(state->loopGain[m]));
    }
    // Writing over an older file; a folder that is gone leaves no file.
    ASSERT_TRUE(writeCoefficientFile(path, v));
    EXPECT_FALSE(writeCoefficientFile(folder.file("gone/") + kCoefficientFileName, v));
}

TEST_F(Conversion, ProgressTable) {
    ConversionState& s = *state;
    auto poll = [&](int stage, int count) {
        s.stage = stage;
        s.stageCount = count;
        return pollProgress(s);
    };
    EXPECT_EQ(poll(0, 0), 1);
    EXPECT_EQ(poll(1, 0), 1);
    EXPECT_EQ(poll(2, 50), 42);
    EXPECT_EQ(poll(2, 99), 81);
    EXPECT_EQ(poll(6, 0), 91);
    EXPECT_EQ(poll(2, 10), 91); // never lower than an earlier answer
    EXPECT_EQ(poll(10, 0), 99);
    s.progress = 0;
    // A counter read across a stage change stays within that stage.
    EXPECT_EQ(poll(3, 99), 83);
}

TEST_F(Conversion, CancelDuringResamplingStopsAfterIt) {
    ASSERT_EQ(load(FormatRecord{1, 1, 44100, 16}, test::generateImpulseResponse(6, 44100, 22050)),
              LoadResult::Loaded);
    std::vector<int> stages;
    const auto outcome = runConversion(*state, abandon, [&](int32_t stage) {
        stages.push_back(stage);
        if (stage == 2) state->cancelRequested = 1;
    });
    EXPECT_EQ(outcome, ConversionOutcome::Cancelled);
    EXPECT_EQ(stages.back(), 3);
    EXPECT_EQ(pollProgress(*state), 82);
    // Cancelled before the worker began: nothing runs.
    state->cancelRequested = 1;
    state->stage = 0;
    EXPECT_EQ(convert(), ConversionOutcome::Cancelled);
    EXPECT_EQ(state->stage.load(), 0);
}

TEST_F(Conversion, FinishedConversionPollsAt99) {
    ASSERT_EQ(load(FormatRecord{1, 1, 96000, 16}, test::generateImpulseResponse(8, 96000, 5000)),
              LoadResult::Loaded);
    std::vector<int> stages;
    ASSERT_EQ(runConversion(*state, abandon, [&](int32_t st) { stages.push_back(st); }),
              ConversionOutcome::Converted);
    EXPECT_EQ(stages.front(), 1);
    EXPECT_EQ(stages.back(), 10);
    EXPECT_TRUE(std::is_sorted(stages.begin(), stages.end()));
    EXPECT_EQ(pollProgress(*state), 99);
}

// Tap selection and tail analysis on crafted taps.
class Taps : public ::testing::Test {
  protected:
    void SetUp() override {
        s->length96k = 48000;
        s->tapCount = 4080;
        std::fill(s->taps.begin(), s->taps.end(), 0.0);
    }
    std::unique_ptr<ConversionState> s = std::make_unique<ConversionState>();
};

TEST_F(Taps, KeepsThe1640Strongest) {
    for (int k = 0; k < 4080; k += 2)
        s->taps[size_t(k)] = (k % 4 ? -1.0 : 1.0) * (0.9 - k * 1e-4);
    selectStrongestTaps(s->taps.data(), 4080);
    int kept = 0;
    for (int k = 0; k < 4080; ++k)
        kept += s->taps[size_t(k)] != 0.0;
    EXPECT_EQ(kept, 1640);
    EXPECT_NE(s->taps[3278], 0.0); // the 1640th largest
    EXPECT_EQ(s->taps[3280], 0.0);
}

TEST_F(Taps, FewCandidatesAreKeptDownTo2PowMinus50) {
    s->taps[0] = 0.5;
    s->taps[2] = -1e-15; // above 2^-50
    s->taps[4] = 8e-16;  // below
    s->taps[4090] = 3.0; // beyond tapCount: untouched
    selectStrongestTaps(s->taps.data(), 4080);
    EXPECT_EQ(s->taps[0], 0.5);
    EXPECT_EQ(s->taps[2], -1e-15);
    EXPECT_EQ(s->taps[4], 0.0);
    EXPECT_EQ(s->taps[4090], 3.0);
}

TEST_F(Taps, MoreThan1640AboveOneKeepsTheLargest) {
    for (int k = 0; k < 4080; k += 2)
        s->taps[size_t(k)] = 2.0 + (k % 7);
    selectStrongestTaps(s->taps.data(), 4080);
    int kept = 0;
    for (int k = 0; k < 4080; ++k)
        kept += s->taps[size_t(k)] != 0.0;
    EXPECT_EQ(kept, 1640);
    EXPECT_EQ(coefficientValues(*s).size(), 3354u);
}

// Negative even taps up to x0 - 2, positive from x0 to o: one rising
// crossing at x0, no falling one.
void oneRisingCrossing(ConversionState& s, int x0, int o) {
    for (int k = 0; k <= o; k += 2)
        s.taps[size_t(k)] = k < x0 ? -0.5 : 0.25;
}

TEST_F(Taps, CrossingTooEarlyClearsTheHead) {
    oneRisingCrossing(*s, 4000 - 1300, 4000);
    analyseTail(*s);
    EXPECT_EQ(s->loopTarget[0], 2700);
    EXPECT_EQ(s->loopSource[21], 2700);
    EXPECT_EQ(s->loopSource[22], 0);
    const std::vector<float> v = coefficientValues(*s);
    for (int i = 0; i < 1640; ++i)
        EXPECT_EQ(v[size_t(i)], 0.0f) << i;
}

TEST_F(Taps, CrossingInStep22KeepsTheTaps) {
    oneRisingCrossing(*s, 4000 - 1250, 4000);
    analyseTail(*s);
    EXPECT_EQ(s->loopSource[22], 2750);
    EXPECT_EQ(s->loopSource[23], 0);
    const std::vector<float> v = coefficientValues(*s);
    EXPECT_EQ(v[0], -0.5f);
    EXPECT_EQ(v[1374], -0.5f); // taps 0, 2, ... 2748
    EXPECT_EQ(v[1375], 0.0f);
    EXPECT_EQ(v[1640 + 1374], 2748.0f / 16384.0f);
}

TEST_F(Taps, NoCrossingWritesNoTaps) {
    for (int k = 0; k < 3000; k += 2)
        s->taps[size_t(k)] = 0.5;
    analyseTail(*s);
    const std::vector<float> v = coefficientValues(*s);
    for (int i = 0; i < 1640; ++i)
        ASSERT_EQ(v[size_t(i)], 0.0f);
    for (int m = 0; m < 24; ++m) {
        EXPECT_EQ(v[size_t(3280 + m)], 1.0f);
        EXPECT_EQ(v[size_t(3304 + m)], 0.0f);
        EXPECT_EQ(v[size_t(3328 + m)], 0.0f);
    }
}

TEST_F(Taps, ZeroedTapsCountAsCrossings) {
    // A kept positive tap two places before a zeroed one: a falling crossing.
    for (int k = 0; k <= 1000; k += 2)
        s->taps[size_t(k)] = 0.5;
    s->taps[1002] = 0.0;
    s->taps[1004] = 0.5;
    analyseTail(*s);
    EXPECT_EQ(s->loopTarget[0], 1002);
}

TEST_F(Taps, CrossingOnlyBeforeTheSearchedTailGivesNoNegativeTarget) {
    // The only crossing (falling) lies exactly 2880 before o: outside the
    // tail search (so T = 0) but inside step 0's window.
    for (int k = 0; k <= 3000; k += 2)
        s->taps[size_t(k)] = k < 120 ? 0.5 : -0.5;
    analyseTail(*s);
    EXPECT_EQ(s->loopTarget[0], 0);
    for (int m = 0; m < 24; ++m) {
        EXPECT_EQ(s->loopTarget[m], 0);
        EXPECT_EQ(s->loopGain[m], 0.0);
    }
}

} // namespace
} // namespace kx5
