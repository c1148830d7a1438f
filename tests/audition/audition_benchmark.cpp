// The audition's two costs. First, rendering a DI phrase through an IR:
// the convolution through FFTW (what the host uses) and through the
// project's own FFT (CFFT), for phrases of several lengths and the longest
// IR the unit takes (0.5 s), with how far the two results lie apart. Then
// the time from a click to sound: the built program's console on a private
// PulseAudio server, from the page's call until the null sink's monitor
// hears the phrase (a new IR: rendered, then played; the same IR: played).
// Usage: audition_benchmark [rounds]
#include "audition/audition_sources.h"
#include "audition/convolver.h"
#include "ir/fft.h"
#include "tests/audio/pulse_server.h"
#include "tests/ir/wav_builder.h"
#include "tests/support/console_process.h"

#include <picojson.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace kx5;
using namespace kx5::test;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

std::vector<float> noise(size_t n, unsigned seed, double decay = 0) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = float(0.5 * d(random) * (decay > 0 ? std::exp(-double(i) / decay) : 1.0));
    return v;
}

// The same linear convolution through CFFT: two forward complex
// transforms, the product, one inverse.
std::vector<float> convolveWithOwnFft(const std::vector<float>& x, const std::vector<float>& h) {
    const size_t length = x.size() + h.size() - 1;
    int bits = 1;
    while ((size_t(1) << bits) < length)
        ++bits;
    const size_t n = size_t(1) << bits;
    CFFT forward, inverse;
    forward.init(bits, false, false);
    inverse.init(bits, true, false);
    std::vector<double> xr(n, 0.0), xi(n, 0.0), hr(n, 0.0), hi(n, 0.0);
    std::copy(x.begin(), x.end(), xr.begin());
    std::copy(h.begin(), h.end(), hr.begin());
    forward.transformComplex(xr.data(), xi.data());
    forward.transformComplex(hr.data(), hi.data());
    for (size_t k = 0; k < n; ++k) {
        const double re = xr[k] * hr[k] - xi[k] * hi[k];
        const double im = xr[k] * hi[k] + xi[k] * hr[k];
        xr[k] = re;
        xi[k] = im;
    }
    inverse.transformComplex(xr.data(), xi.data());
    return std::vector<float>(xr.begin(), xr.begin() + long(length));
}

template <typename F> double bestMs(int rounds, F f) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto t = Clock::now();
        f();
        best = std::min(best, msSince(t));
    }
    return best;
}

void convolutionBenchmark(int rounds) {
    constexpr uint32_t kRate = 48000;
    const auto ir = noise(kRate / 2, 2, 3000.0);
    std::printf("convolution, IR 0.5 s at 48 kHz (best of %d):\n", rounds);
    std::printf("%10s %12s %12s %8s %14s\n", "phrase", "FFTW ms", "own FFT ms", "ratio",
                "max difference");
    for (double seconds : {2.0, 5.0, 10.0, 20.0}) {
        const auto x = noise(size_t(seconds * kRate), 1);
        std::vector<float> a, b;
        const double fftw = bestMs(rounds, [&] { a = convolve(x, ir); });
        const double own = bestMs(rounds, [&] { b = convolveWithOwnFft(x, ir); });
        double worst = 0;
        for (size_t i = 0; i < a.size(); ++i)
            worst = std::max(worst, double(std::fabs(a[i] - b[i])));
        std::printf("%9.0fs %12.1f %12.1f %8.2f %14.2e\n", seconds, fftw, own, own / fftw, worst);
    }
}

std::string jsonText(const std::string& s) {
    return picojson::value(s).serialize();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// From the call until the monitor holds a loud frame.
double untilHeard(MonitorCapture& monitor, ConsoleProcess& console,
                  const std::vector<std::vector<std::string>>& calls) {
    monitor.clear();
    monitor.waitUntilRecording();
    const size_t before = monitor.samples().size();
    const auto t = Clock::now();
    for (const auto& c : calls)
        console.call(c);
    while (msSince(t) < 5000) {
        const auto s = monitor.samples();
        for (size_t i = before; i < s.size(); i += 2)
            if (std::abs(s[i]) > 300) return msSince(t);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return -1;
}

int latencyBenchmark(int rounds) {
    PulseServer server;
    if (!server.running()) {
        std::fprintf(stderr, "no PulseAudio server: %s\n", server.log().c_str());
        return 1;
    }
    TempDir home;
    // A DI phrase loud from its first frame, as long as one is played (at
    // 48 kHz); IRs of 0.5 s at 96 kHz (resampled to the phrase's rate): the
    // most work a click asks for.
    std::vector<double> di(size_t(kMaxPhraseSeconds * 48000));
    const auto pluck = noise(di.size(), 3, 20000.0);
    std::transform(pluck.begin(), pluck.end(), di.begin(), [](float v) { return double(v); });
    writeFile(home.file("di.wav"), simpleWave({1, 1, 48000, 16}, di));
    for (int i = 0; i < rounds; ++i) {
        const auto h = noise(48000, unsigned(10 + i), 4000.0);
        writeFile(home.file("ir" + std::to_string(i) + ".wav"),
                  simpleWave({1, 1, 96000, 24}, std::vector<double>(h.begin(), h.end())));
    }
    ConsoleProcess console(KX5_EDITOR, {.home = home.path(),
                                        .arguments = {"--no-simulated-unit"},
                                        .env = {{"PULSE_SERVER", server.serverAddress()}}});
    if (!console.started()) return 1;
    console.call({"$$audition_phrase", home.file("di.wav")});
    MonitorCapture monitor;
    if (!monitor.ok()) return 1;
    std::vector<double> fresh, again;
    for (int i = 0; i < rounds; ++i) {
        const std::string load =
            "{\"path\":" + jsonText(home.file("ir" + std::to_string(i) + ".wav")) + "}";
        fresh.push_back(untilHeard(monitor, console,
                                   {{"$$audition_load", "a", load}, {"$$audition_play", "a"}}));
        console.call({"$$audition_stop"});
        again.push_back(untilHeard(monitor, console,
                                   {{"$$audition_load", "a", load}, {"$$audition_play", "a"}}));
        console.call({"$$audition_stop"});
    }
    std::printf("click to sound (%d rounds, %.0f s phrase at 48 kHz, IR 0.5 s at 96 kHz):\n",
                rounds, kMaxPhraseSeconds);
    std::printf("  a new IR (rendered, then played): median %.1f ms, worst %.1f ms\n",
                median(fresh), *std::max_element(fresh.begin(), fresh.end()));
    std::printf("  the same IR again (played):       median %.1f ms, worst %.1f ms\n",
                median(again), *std::max_element(again.begin(), again.end()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    convolutionBenchmark(rounds);
    return latencyBenchmark(rounds);
}
