#include "tests/ir/literal_conversion.h"

#include "ir/fft.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace kx5::test {
namespace {

constexpr double kPi = 3.14159265358979;
constexpr int kBuffer = 48000;
constexpr int kMaxTaps = 1640;

double sinc(double x) {
    return x == 0.0 ? 1.0 : std::sin(x) / x;
}

struct State {
    int tapCount = 0;
    std::vector<double> taps = std::vector<double>(kBuffer, 0.0);
    int loopTarget[24] = {};
    int loopSource[24] = {};
    int leadSilence = 0;
    double loopGain[24] = {};
    int sourceRate = 0;
    int sourceFrames = 0;
    int length96k = 0;
    std::vector<double> source = std::vector<double>(kBuffer, 0.0);
    std::vector<double> ir96k = std::vector<double>(kBuffer, 0.0);
};

double interpolate(const State& s, int i, int n) {
    const double f = s.sourceRate;
    const double d = double(i) * f / 96000.0;
    const int e = int(std::trunc(d + 0.5));
    double sum = 0.0;
    if (n > s.length96k) {
        for (int k = std::max(0, e - 1024); k <= e + 1024 && k < n; ++k)
            sum += s.source[k] * sinc((double(k) * 96000.0 / f - double(i)) * kPi);
        return sum;
    }
    for (int k = std::max(0, e - 1024); k <= e + 1024 && k < n; ++k)
        sum += s.source[k] * sinc((double(k) - d) * kPi);
    return f / 96000.0 * sum;
}

bool resample(State& s) {
    const int f = s.sourceRate;
    int n = s.sourceFrames;
    if (f == 96000) {
        s.length96k = n;
        for (int i = 0; i < n; ++i)
            s.ir96k[i] = s.source[i];
        return n >= 1;
    }
    int l = int(std::trunc(96000.0 / f * n + 0.5));
    if (l > kBuffer) {
        l = kBuffer;
        n = s.sourceFrames = int(std::trunc(double(f) * 48000.0 / 96000.0 + 0.5));
    }
    s.length96k = l;
    if (l <= 0) return false;
    for (int i = 0; i < l; ++i)
        s.ir96k[i] = interpolate(s, i, n);
    return true;
}

bool normalise(State& s) {
    const int l = s.length96k;
    const int log2n = int(std::ceil(std::log(35.0 * l) / std::log(2.0)));
    const int n = 1 << log2n;
    std::vector<double> w(size_t(n), 0.0);
    CFFT forward, inverse;
    forward.init(log2n, false, true);
    inverse.init(log2n, true, true);
    for (int i = 0; i < l; ++i)
        w[i] = s.ir96k[i];
    forward.transformReal(w.data());
    const int k0 = int(std::trunc(n * 0.0020833333333333333 + 0.5));
    const int j0 = int(std::trunc(n * 0.003125 + 0.5));
    double sum = 0.0;
    for (int k = k0; k < j0; ++k)
        sum += std::sqrt(w[2 * k] * w[2 * k] + w[2 * k + 1] * w[2 * k + 1]);
    const double g = double(j0 - k0) / sum;
    if (!(sum > 0.0) || !std::isfinite(g)) return false;
    for (int i = 0; i < n; ++i)
        w[i] *= g;
    inverse.transformReal(w.data());
    for (int i = 0; i < l; ++i)
        s.ir96k[i] = w[i];
    return true;
}

bool isRising(const State& s, int x) {
    return x >= 2 && s.taps[x - 2] < 0.0 && 0.0 <= s.taps[x];
}
bool isFalling(const State& s, int x) {
    return x >= 2 && s.taps[x - 2] > 0.0 && 0.0 >= s.taps[x];
}

void selectTaps(State& s) {
    const int l = s.length96k;
    s.tapCount = std::min(l, 4080);
    for (int j = 0; j < l; ++j) {
        if (j % 2 != 0) {
            s.taps[j] = 0.0;
            continue;
        }
        double h = 0.0;
        for (int i = std::max(0, j - 100); i <= j + 100 && i < l; ++i) {
            const int a = i - j;
            const double sa = a == 0 ? 1.0 : sinc(a * kPi * 0.5);
            const double x = a * kPi / 100.0;
            const double wa = (x >= -kPi && x <= kPi) ? 0.5 + 0.5 * std::cos(x) : 0.0;
            h += s.ir96k[i] * sa * wa;
        }
        s.taps[j] = h;
    }
    double hi = 1.0, lo = 0.0, threshold = 0.0;
    for (;;) {
        const double d = (hi + lo) * 0.5;
        int c = 0;
        for (int k = 0; k < s.tapCount; ++k)
            if (std::fabs(s.taps[k]) > d) ++c;
        threshold = d;
        if (c == kMaxTaps) break;
        if (c > kMaxTaps)
            lo = d;
        else
            hi = d;
        if (hi - lo < 1e-15) {
            threshold = hi;
            break;
        }
        if (d < 1e-15) break;
    }
    std::vector<int> kept;
    for (int k = 0; k < s.tapCount; ++k)
        if (std::fabs(s.taps[k]) > threshold) kept.push_back(k);
    if (kept.size() > size_t(kMaxTaps)) {
        std::stable_sort(kept.begin(), kept.end(),
                         [&](int a, int b) { return std::fabs(s.taps[a]) > std::fabs(s.taps[b]); });
        kept.resize(kMaxTaps);
    }
    std::vector<char> keep(size_t(s.tapCount), 0);
    for (int k : kept)
        keep[k] = 1;
    for (int k = 0; k < s.tapCount; ++k)
        if (!keep[k]) s.taps[k] = 0.0;
}

void analyseTail(State& s) {
    const int l = s.length96k;
    int o = 0;
    for (int k = s.tapCount - 1; k >= 0; --k)
        if (s.taps[k] != 0.0) {
            o = k;
            break;
        }
    int r = 0, fl = 0;
    for (int x = o, steps = 0; steps < 2880 && x >= 2; --x, ++steps)
        if (isRising(s, x)) {
            r = x;
            break;
        }
    for (int x = o, steps = 0; steps < 2880 && x >= 2; --x, ++steps)
        if (isFalling(s, x)) {
            fl = x;
            break;
        }
    for (int m = 0; m < 24; ++m)
        s.loopTarget[m] = s.loopSource[m] = 0, s.loopGain[m] = 0.0;
    const bool rising = r > fl;
    s.loopTarget[0] = rising ? r : fl;
    const int t = s.loopTarget[0];
    for (int m = 0; m < 24; ++m) {
        const int width = 2880 - 72 * m;
        const int start = o - 2880 + 72 * m;
        int x = -1;
        for (int c = std::max(start, 2); c < start + width; ++c)
            if (rising ? isRising(s, c) : isFalling(s, c)) {
                x = c;
                break;
            }
        if (x < 0 || x > t) continue;
        s.loopSource[m] = x;
        if (m < 23) s.loopTarget[m + 1] = std::min(t + s.loopTarget[m] - x, l);
        if (x == t) {
            s.loopGain[m] = 0.0;
            continue;
        }
        double a = 0.0, b = 0.0;
        for (int c = 0; c <= t - x - 1; ++c) {
            if (s.loopTarget[m] + c < l) a += std::fabs(s.taps[s.loopTarget[m] + c]);
            b += std::fabs(s.taps[x + c]);
        }
        s.loopGain[m] = a / b;
    }
    for (int m = 0; m < 24; ++m)
        for (int c = 0; c <= t - s.loopSource[m] - 1; ++c) {
            if (s.loopTarget[m] + c >= l) break;
            s.taps[s.loopTarget[m] + c] = s.taps[s.loopSource[m] + c] * s.loopGain[m];
        }
}

std::vector<float> fileValues(const State& s) {
    std::vector<float> v;
    std::vector<float> positions;
    const float unit = float(1.0 / 16384.0);
    for (int i = 0; i < s.loopTarget[0] && i < s.tapCount; ++i)
        if (s.taps[i] != 0.0) {
            v.push_back(float(s.taps[i]));
            positions.push_back(float(i) * unit);
        }
    while (v.size() < 1640)
        v.push_back(0.0f);
    while (positions.size() < 1640)
        positions.push_back(0.2490234375f);
    v.insert(v.end(), positions.begin(), positions.end());
    for (int m = 0; m < 24; ++m)
        v.push_back(s.loopTarget[m] > 2 ? float(s.loopTarget[m] - 2) : 1.0f);
    for (int m = 0; m < 24; ++m)
        v.push_back(float(double(float(s.loopSource[m])) * (1.0 / 16384.0)));
    for (int m = 0; m < 24; ++m)
        v.push_back(float(s.loopGain[m]));
    v.push_back(float(s.leadSilence));
    v.push_back(1.0f);
    return v;
}

} // namespace

LiteralOutcome literalConversion(const LiteralSource& source, int channel) {
    LiteralOutcome out;
    auto s = std::make_unique<State>();
    const int channels = source.channels;
    const int frames = int(source.samples.size() / size_t(channels));
    s->sourceRate = source.rate;
    s->sourceFrames = frames;
    int p = 0, b = 0;
    while (p < frames && std::fabs(source.samples[size_t(p) * channels]) < 0.001953125) {
        ++p;
        --s->sourceFrames;
        ++b;
    }
    if (p == frames || source.rate <= 0) return out;
    s->leadSilence = int(std::trunc(double(b) * 96000.0 / s->sourceRate));
    const int cap = int(std::trunc(double(s->sourceRate) * 48000.0 / 96000.0 + 0.5));
    if (s->sourceFrames > cap) s->sourceFrames = cap;
    if (s->sourceFrames > kBuffer) s->sourceFrames = kBuffer;
    const int offset = (channels == 2 && channel == 1) ? 1 : 0;
    for (int i = 0; i < s->sourceFrames; ++i)
        s->source[i] = source.samples[size_t(p + i) * channels + offset];
    if (!resample(*s) || !normalise(*s)) return out;
    selectTaps(*s);
    analyseTail(*s);
    out.values = fileValues(*s);
    for (float v : out.values)
        if (!std::isfinite(v)) return out;
    out.usable = true;
    out.length96k = s->length96k;
    out.leadSilence = s->leadSilence;
    return out;
}

} // namespace kx5::test
