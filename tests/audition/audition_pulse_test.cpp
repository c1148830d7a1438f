// Hearing an IR through the built program's bridge console, on a private
// PulseAudio server: what its null sink plays (recorded from its monitor) is
// the DI phrase convolved offline with the IR, at the gain the page set;
// switching to B while playing goes on with B at the same point.
#include "tests/audio/pulse_server.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/child_process.h"
#include "tests/support/console_process.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

using namespace kx5;
using namespace kx5::test;

namespace {

constexpr uint32_t kRate = 44100; // the null sink's: nothing is resampled

// A few plucks of decaying noise, 0.7 s.
std::vector<double> diPhrase() {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> v(size_t(0.7 * kRate), 0.0);
    for (size_t start : {size_t(1000), size_t(9000), size_t(16000), size_t(22000)}) {
        for (size_t i = 0; start + i < v.size(); ++i)
            v[start + i] += 0.3 * std::exp(-double(i) / 2500.0) * d(random);
    }
    for (double& x : v)
        x = std::round(x * 32768.0) / 32768.0; // as the 16-bit file holds it
    return v;
}

// Decaying noise from its first frame on, at 24 bits.
std::vector<double> cabinet(unsigned seed, double decayFrames, size_t frames = 900) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> v(frames);
    for (size_t i = 0; i < frames; ++i)
        v[i] = std::round((i == 0 ? 0.9 : 0.6 * std::exp(-double(i) / decayFrames) * d(random)) *
                          8388608.0) /
               8388608.0;
    return v;
}

std::vector<double> convolved(const std::vector<double>& x, const std::vector<double>& h,
                              double gainDb) {
    const double g = std::pow(10.0, gainDb / 20.0);
    std::vector<double> y(x.size() + h.size() - 1, 0.0);
    for (size_t i = 0; i < x.size(); ++i)
        if (x[i] != 0.0)
            for (size_t k = 0; k < h.size(); ++k)
                y[i + k] += x[i] * h[k] * g;
    return y;
}

picojson::object answer(const std::string& result) {
    picojson::value v;
    EXPECT_EQ(result.substr(0, 1), "s") << result;
    picojson::parse(v, result.substr(1));
    EXPECT_TRUE(v.is<picojson::object>()) << result;
    return v.is<picojson::object>() ? v.get<picojson::object>() : picojson::object{};
}

// The recording's left channel, as numbers.
std::vector<double> leftOf(const std::vector<int16_t>& interleaved) {
    std::vector<double> out;
    for (size_t i = 0; i < interleaved.size(); i += 2)
        out.push_back(interleaved[i] / 32768.0);
    return out;
}

size_t firstAbove(const std::vector<double>& v, double level, size_t from = 0) {
    for (size_t i = from; i < v.size(); ++i)
        if (std::fabs(v[i]) > level) return i;
    return v.size();
}

// Where `expected` starts in `recorded`: the first loud sample, then the
// best correlation around it.
size_t alignment(const std::vector<double>& recorded, const std::vector<double>& expected) {
    const size_t guess = firstAbove(recorded, 0.01) -
                         std::min(firstAbove(recorded, 0.01), firstAbove(expected, 0.01));
    size_t best = guess;
    double bestSum = -1;
    for (size_t at = guess > 64 ? guess - 64 : 0; at < guess + 64; ++at) {
        double sum = 0;
        for (size_t i = 0; i < 4000 && at + i < recorded.size(); ++i)
            sum += recorded[at + i] * expected[i];
        if (sum > bestSum) {
            bestSum = sum;
            best = at;
        }
    }
    return best;
}

// Signal to error, in dB, of recorded[at + i] against expected[i] for i in
// [from, to).
double match(const std::vector<double>& recorded, size_t at, const std::vector<double>& expected,
             size_t from, size_t to) {
    double signal = 0, error = 0;
    for (size_t i = from; i < to && i < expected.size(); ++i) {
        const double r = at + i < recorded.size() ? recorded[at + i] : 0.0;
        signal += expected[i] * expected[i];
        error += (r - expected[i]) * (r - expected[i]);
    }
    return 10 * std::log10(signal / std::max(error, 1e-30));
}

// The monitor's left channel once it holds all of `expected` after the
// first loud frame, and some more.
std::vector<double> recording(MonitorCapture& monitor, const std::vector<double>& expected) {
    const size_t start = firstAbove(leftOf(monitor.samples()), 0.01);
    monitor.waitForFrames(start + expected.size() + 4096);
    return leftOf(monitor.samples());
}

// What was heard, 20 ms block by block of the phrase (the quiet blocks left
// out): 'A' or 'B' for a block the recording holds as that rendering (at
// least 50 dB signal to error), '-' for one it holds as neither. A block is
// looked for from where the one before it was found on: an output that ran
// dry plays silence and then goes on late, it loses nothing. `snrDb` gets
// the signal to error of all the blocks found.
std::string heard(const std::vector<double>& recorded, size_t at,
                  const std::vector<double>& expectedA, const std::vector<double>& expectedB,
                  double& snrDb) {
    constexpr size_t kBlock = kRate / 50;
    constexpr size_t kLongestGap = kRate / 2;
    std::string blocks;
    double signal = 0, error = 0;
    for (size_t from = 0; from + kBlock <= expectedA.size(); from += kBlock) {
        double energy = 0;
        for (size_t i = from; i < from + kBlock; ++i)
            energy += expectedA[i] * expectedA[i];
        if (energy / kBlock < 1e-5) continue;
        char found = '-';
        for (size_t shift = 0; shift < kLongestGap && found == '-'; ++shift) {
            for (const auto* expected : {&expectedA, &expectedB}) {
                if (match(recorded, at + shift, *expected, from, from + kBlock) <= 50) continue;
                found = expected == &expectedA ? 'A' : 'B';
                at += shift;
                for (size_t i = from; i < from + kBlock; ++i) {
                    const double d = recorded[at + i] - (*expected)[i];
                    signal += (*expected)[i] * (*expected)[i];
                    error += d * d;
                }
                break;
            }
        }
        blocks += found;
    }
    snrDb = 10 * std::log10(signal / std::max(error, 1e-30));
    return blocks;
}

unsigned underruns(ConsoleProcess& console) {
    picojson::value v;
    picojson::parse(v, console.call({"$$audition_status"}).substr(1));
    return unsigned(v.get("underruns").get<double>());
}

class AuditionConsole : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.running()) << server.log();
        const auto di = diPhrase();
        test::writeFile(home.file("di.wav"), test::simpleWave({1, 1, kRate, 16}, di));
        test::writeFile(home.file("a.wav"), test::simpleWave({1, 1, kRate, 24}, irA));
        std::vector<double> stereo;
        for (size_t i = 0; i < irB.size(); ++i) {
            stereo.push_back(irA[i]); // left: audible from the first frame on
            stereo.push_back(irB[i]);
        }
        test::writeFile(home.file("b-plain.wav"), test::simpleWave({1, 2, kRate, 24}, stereo));
        ASSERT_EQ(runCommand({"sox", "-D", home.file("b-plain.wav"), home.file("b.flac")}), 0);
        phrase = di;
    }

    PulseServer server;
    TempDir home;
    std::vector<double> irA = cabinet(1, 120.0);
    std::vector<double> irB = cabinet(2, 40.0);
    std::vector<double> phrase;
};

TEST_F(AuditionConsole, ThePhraseIsPlayedThroughTheIrAndSwitchesToBWhereItIs) {
    ConsoleProcess console(KX5_EDITOR, {.home = home.path(),
                                        .arguments = {"--no-simulated-unit"},
                                        .env = {{"PULSE_SERVER", server.serverAddress()}}});
    ASSERT_TRUE(console.started());
    const auto p = answer(console.call({"$$audition_phrase", home.file("di.wav")}));
    ASSERT_EQ(p.at("result").get<double>(), 1) << picojson::value(p).serialize();
    EXPECT_EQ(p.at("rate").get<double>(), kRate);
    const auto a = answer(
        console.call({"$$audition_load", "a",
                      "{\"path\":" + picojson::value(home.file("a.wav")).serialize() + "}"}));
    const auto b = answer(console.call(
        {"$$audition_load", "b",
         "{\"path\":" + picojson::value(home.file("b.flac")).serialize() + ",\"ch\":1}"}));
    ASSERT_EQ(a.at("result").get<double>(), 1) << picojson::value(a).serialize();
    ASSERT_EQ(b.at("result").get<double>(), 1) << picojson::value(b).serialize();
    // Levels matched as the page does it: each one's peak to -6 dBFS.
    const double gainA = -6 - a.at("peak").get<double>();
    const double gainB = -6 - b.at("peak").get<double>();
    EXPECT_NE(console.call({"$$audition_gain", "a", std::to_string(gainA)}), "");
    EXPECT_NE(console.call({"$$audition_gain", "b", std::to_string(gainB)}), "");
    const auto expectedA = convolved(phrase, irA, gainA);
    const auto expectedB = convolved(phrase, irB, gainB);
    EXPECT_NEAR(a.at("frames").get<double>(), double(expectedA.size()), 0);

    MonitorCapture monitor;
    ASSERT_TRUE(monitor.ok());
    ASSERT_TRUE(monitor.waitUntilRecording());
    EXPECT_EQ(console.call({"$$audition_play", "a"}), "b1");
    ASSERT_TRUE(console.waitForEvent("audition\fended", 20000));
    // "ended" comes when the last frame went to the server: the sink plays
    // what it still holds a moment later.
    std::vector<double> recorded = recording(monitor, expectedA);
    size_t at = alignment(recorded, expectedA);
    double snr = 0;
    std::string blocks = heard(recorded, at, expectedA, expectedB, snr);
    // A gap where the output ran dry (a busy machine) spoils at most the
    // block it falls in.
    unsigned dry = underruns(console);
    EXPECT_EQ(blocks.find('B'), std::string::npos) << blocks;
    EXPECT_LE(std::count(blocks.begin(), blocks.end(), '-'), dry) << blocks;
    EXPECT_GT(snr, 60.0) << "the sink did not play the phrase through A";
    std::printf("audition: phrase through A heard at %.1f dB signal to error, %u gaps\n", snr, dry);

    // Again, and B a moment after the start: the phrase goes on through B.
    monitor.clear();
    ASSERT_TRUE(monitor.waitUntilRecording());
    EXPECT_EQ(console.call({"$$audition_play", "a"}), "b1");
    ASSERT_TRUE(waitUntil([&] { return firstAbove(leftOf(monitor.samples()), 0.01) < SIZE_MAX; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(console.call({"$$audition_play", "b"}), "b1");
    ASSERT_TRUE(console.waitForEvent("audition\fended", 20000));
    recorded = recording(monitor, expectedA);
    at = alignment(recorded, expectedA);
    // A up to the switch, at most one block of crossfade, then B to the end.
    blocks = heard(recorded, at, expectedA, expectedB, snr);
    dry = underruns(console);
    const size_t switched = blocks.find('B');
    ASSERT_NE(switched, std::string::npos) << blocks;
    EXPECT_GT(switched, 2u) << blocks;
    EXPECT_EQ(blocks.find('A', switched), std::string::npos) << blocks;
    EXPECT_LE(std::count(blocks.begin(), blocks.end(), '-'), dry + 1) << blocks;
    EXPECT_GT(snr, 60.0);
    const auto status = answer(console.call({"$$audition_status"}));
    EXPECT_FALSE(status.at("playing").get<bool>());
    EXPECT_EQ(status.at("which").to_str(), "b");
}

} // namespace

namespace {

TEST_F(AuditionConsole, AServerThatGoesAwayWhilePlayingIsToldAndPlayingStops) {
    ConsoleProcess console(KX5_EDITOR, {.home = home.path(),
                                        .arguments = {"--no-simulated-unit"},
                                        .env = {{"PULSE_SERVER", server.serverAddress()}}});
    ASSERT_TRUE(console.started());
    ASSERT_EQ(
        answer(console.call({"$$audition_phrase", home.file("di.wav")})).at("result").get<double>(),
        1);
    ASSERT_EQ(
        answer(console.call({"$$audition_load", "a",
                             "{\"path\":" + picojson::value(home.file("a.wav")).serialize() + "}"}))
            .at("result")
            .get<double>(),
        1);
    ASSERT_EQ(console.call({"$$audition_loop", "true"}), "b1");
    ASSERT_EQ(console.call({"$$audition_play", "a"}), "b1");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.kill();
    std::vector<std::string> told;
    for (const auto& e : console.eventsUntil("audition\ferror"))
        if (e.rfind("audition\f", 0) == 0) told.push_back(e.substr(0, e.find('\f', 9)));
    EXPECT_EQ(told, (std::vector<std::string>{"audition\ferror"}));
    EXPECT_FALSE(answer(console.call({"$$audition_status"})).at("playing").get<bool>());
    // The program goes on: with no server, playing again answers that it
    // cannot.
    EXPECT_EQ(console.call({"$$audition_play", "a"}), "b");
    EXPECT_EQ(console.finish(), 0);
}

} // namespace
