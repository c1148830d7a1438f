#include "ir/tap_selection.h"

#include "ir/dot_product.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace kx5 {
namespace {

using conversion::kMaxTaps;
using conversion::kPi;

constexpr int kHalfBandReach = 100;

// s(a) * w(a) for a = -100..100.
std::array<double, 2 * kHalfBandReach + 1> halfBandWeights() {
    std::array<double, 2 * kHalfBandReach + 1> weights{};
    for (int a = -kHalfBandReach; a <= kHalfBandReach; ++a) {
        const double x = a * kPi * 0.5;
        const double s = a == 0 ? 1.0 : std::sin(x) / x;
        const double angle = a * kPi / 100.0;
        const double w = (angle >= -kPi && angle <= kPi) ? 0.5 + 0.5 * std::cos(angle) : 0.0;
        weights[size_t(a + kHalfBandReach)] = s * w;
    }
    return weights;
}

int countAbove(const std::vector<double>& magnitudes, double threshold) {
    int c = 0;
    for (double m : magnitudes)
        c += m > threshold ? 1 : 0;
    return c;
}

bool isRising(const std::vector<double>& t, int x) {
    return x >= 2 && t[x - 2] < 0.0 && 0.0 <= t[x];
}
bool isFalling(const std::vector<double>& t, int x) {
    return x >= 2 && t[x - 2] > 0.0 && 0.0 >= t[x];
}

} // namespace

void halfBandFilter(const double* ir, int length, double* taps) {
    static const auto weights = halfBandWeights();
    for (int j = 0; j < length; ++j) {
        if (j % 2 != 0) {
            taps[j] = 0.0;
            continue;
        }
        const int lo = std::max(0, j - kHalfBandReach);
        const int hi = std::min(j + kHalfBandReach, length - 1);
        taps[j] = dotProduct(ir + lo, weights.data() + (lo - j + kHalfBandReach), hi - lo + 1);
    }
}

void selectStrongestTaps(double* taps, int tapCount) {
    std::vector<double> magnitudes(size_t(std::max(tapCount, 0)));
    for (int k = 0; k < tapCount; ++k)
        magnitudes[size_t(k)] = std::fabs(taps[k]);
    double hi = 1.0, lo = 0.0, threshold = 0.0;
    for (;;) {
        const double d = (hi + lo) * 0.5;
        const int c = countAbove(magnitudes, d);
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
    for (int k = 0; k < tapCount; ++k)
        if (magnitudes[size_t(k)] > threshold) kept.push_back(k);
    if (kept.size() > size_t(kMaxTaps)) {
        std::stable_sort(kept.begin(), kept.end(), [&](int a, int b) {
            return magnitudes[size_t(a)] > magnitudes[size_t(b)];
        });
        kept.resize(kMaxTaps);
    }
    std::vector<char> keep(magnitudes.size(), 0);
    for (int k : kept)
        keep[size_t(k)] = 1;
    for (int k = 0; k < tapCount; ++k)
        if (!keep[size_t(k)]) taps[k] = 0.0;
}

void analyseTail(ConversionState& s) {
    const std::vector<double>& taps = s.taps;
    const int length = s.length96k;
    int o = 0;
    for (int k = s.tapCount - 1; k >= 0; --k)
        if (taps[size_t(k)] != 0.0) {
            o = k;
            break;
        }
    int rising = 0, falling = 0;
    for (int x = o, steps = 0; steps < 2880 && x >= 2; --x, ++steps)
        if (isRising(taps, x)) {
            rising = x;
            break;
        }
    for (int x = o, steps = 0; steps < 2880 && x >= 2; --x, ++steps)
        if (isFalling(taps, x)) {
            falling = x;
            break;
        }
    s.loopTarget.fill(0);
    s.loopSource.fill(0);
    s.loopGain.fill(0.0);
    const bool useRising = rising > falling;
    const int t = useRising ? rising : falling;
    s.loopTarget[0] = t;
    for (int m = 0; m < conversion::kLoopSteps; ++m) {
        const int width = 2880 - 72 * m;
        const int start = o - 2880 + 72 * m;
        int x = -1;
        for (int c = std::max(start, 2); c < start + width; ++c)
            if (useRising ? isRising(taps, c) : isFalling(taps, c)) {
                x = c;
                break;
            }
        // A crossing past the tail start (only possible when the tail search
        // found none) would give a negative target: treated as none.
        if (x < 0 || x > t) continue;
        s.loopSource[m] = x;
        if (m + 1 < conversion::kLoopSteps)
            s.loopTarget[m + 1] = std::min(t + s.loopTarget[m] - x, length);
        if (x == t) continue;
        double a = 0.0, b = 0.0;
        for (int c = 0; c <= t - x - 1; ++c) {
            if (s.loopTarget[m] + c < length) a += std::fabs(taps[size_t(s.loopTarget[m] + c)]);
            b += std::fabs(taps[size_t(x + c)]);
        }
        s.loopGain[m] = b > 0.0 ? a / b : 0.0;
    }
    for (int m = 0; m < conversion::kLoopSteps; ++m)
        for (int c = 0; c <= t - s.loopSource[m] - 1; ++c) {
            if (s.loopTarget[m] + c >= length) break;
            s.taps[size_t(s.loopTarget[m] + c)] =
                s.taps[size_t(s.loopSource[m] + c)] * s.loopGain[m];
        }
}

void selectTapsAndAnalyseTail(ConversionState& s) {
    s.tapCount = std::min(s.length96k, conversion::kTapPositions);
    halfBandFilter(s.ir96k.data(), s.length96k, s.taps.data());
    selectStrongestTaps(s.taps.data(), s.tapCount);
    analyseTail(s);
}

} // namespace kx5
