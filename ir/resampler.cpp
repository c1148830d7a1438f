#include "ir/resampler.h"

#include "ir/conversion_state.h"
#include "ir/dot_product.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

namespace kx5 {
namespace {

using conversion::kPi;

constexpr int kHalfWidth = 1024;
constexpr int kRowLength = 2 * kHalfWidth + 1;
constexpr int kReportEvery = 512;

// sin and cos of the rounded n * pi for |n| <= range.
class IntegerAngles {
  public:
    explicit IntegerAngles(int range) : range_(range), sin_(2 * range + 1), cos_(2 * range + 1) {
        for (int n = -range; n <= range; ++n) {
            const double a = double(n) * kPi;
            sin_[n + range] = std::sin(a);
            cos_[n + range] = std::cos(a);
        }
    }
    bool covers(int n) const { return n >= -range_ && n <= range_; }
    double sinAt(int n) const { return sin_[n + range_]; }
    double cosAt(int n) const { return cos_[n + range_]; }

  private:
    int range_;
    std::vector<double> sin_, cos_;
};

uint64_t bitsOf(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

bool abandoned(const ResampleProgress& p) {
    return p.abandon && p.abandon->load(std::memory_order_relaxed);
}

void report(const ResampleProgress& p, int done, int total) {
    if (p.report) p.report(done, total);
}

// Weights sinc((j + delta) * pi) for j = -1024..1024, with
// sin((j + delta) pi) = sin(j pi) cos(delta pi) + cos(j pi) sin(delta pi).
// j + delta is exact (it equals k - d), so the divisor is the one a direct
// evaluation uses.
void upsamplingRow(double delta, const IntegerAngles& angles, double* row) {
    const double b = delta * kPi;
    const double sinB = std::sin(b), cosB = std::cos(b);
    for (int j = -kHalfWidth; j <= kHalfWidth; ++j) {
        const double x = (double(j) + delta) * kPi;
        row[j + kHalfWidth] =
            x == 0.0 ? 1.0 : (angles.sinAt(j) * cosB + angles.cosAt(j) * sinB) / x;
    }
}

// Upsampling (or equal length): outputs whose positions have the same
// fractional offset use the same weights. Offsets repeat with the period
// 96000 / gcd(rate, 96000); within one residue class they change only where
// the rounding of the position changes (a new binade), so the classes are
// walked one after the other.
void upsample(const double* source, int frames, int rate, double* out, int length,
              const ResampleProgress& progress) {
    const IntegerAngles angles(kHalfWidth);
    const int period = int(96000 / std::gcd(rate, 96000));
    const int classes = std::min(period, length);
    const double scale = double(rate) / 96000.0;
    std::vector<double> row(kRowLength);
    bool haveRow = false;
    uint64_t rowDelta = 0;
    int done = 0, reported = 0;
    for (int c = 0; c < classes; ++c) {
        for (int i = c; i < length; i += period) {
            const double d = double(i) * double(rate) / 96000.0;
            const int e = int(std::trunc(d + 0.5));
            const double delta = double(e) - d;
            if (!haveRow || bitsOf(delta) != rowDelta) {
                upsamplingRow(delta, angles, row.data());
                rowDelta = bitsOf(delta);
                haveRow = true;
            }
            const int lo = std::max(0, e - kHalfWidth);
            const int hi = std::min(e + kHalfWidth, frames - 1);
            const double sum =
                hi >= lo ? dotProduct(source + lo, row.data() + (lo - e + kHalfWidth), hi - lo + 1)
                         : 0.0;
            out[i] = scale * sum;
            ++done;
        }
        if (done - reported >= kReportEvery) {
            report(progress, done, length);
            reported = done;
            if (abandoned(progress)) return;
        }
    }
    report(progress, done, length);
}

// Downsampling: the term for input k of output i is
// sinc((k * 96000 / rate - i) * pi). With u = k * 96000 / rate split into
// its integer part a and fraction f, the sine is that of
// (a - i) pi + f pi; sin and cos of f pi are kept per input sample.
void downsample(const double* source, int frames, int rate, double* out, int length,
                const ResampleProgress& progress) {
    std::vector<double> position(frames), sinF(frames), cosF(frames);
    std::vector<int> whole(frames);
    for (int k = 0; k < frames; ++k) {
        const double u = double(k) * 96000.0 / double(rate);
        position[k] = u;
        const double a = std::floor(u);
        whole[k] = int(a);
        sinF[k] = std::sin((u - a) * kPi);
        cosF[k] = std::cos((u - a) * kPi);
    }
    const IntegerAngles angles(kHalfWidth + 8);
    std::vector<double> offsets(kRowLength), rowOffsets(kRowLength), weights(kRowLength);
    bool haveRow = false;
    for (int i = 0; i < length; ++i) {
        const double d = double(i) * double(rate) / 96000.0;
        const int e = int(std::trunc(d + 0.5));
        const int lo = std::max(0, e - kHalfWidth);
        const int hi = std::min(e + kHalfWidth, frames - 1);
        if (hi < lo) {
            out[i] = 0.0;
            continue;
        }
        const int count = hi - lo + 1;
        for (int k = lo; k <= hi; ++k)
            offsets[k - lo] = position[k] - double(i);
        // A full row equal to the last one reuses its weights.
        const bool full = count == kRowLength;
        if (!(full && haveRow &&
              std::memcmp(offsets.data(), rowOffsets.data(), sizeof(double) * kRowLength) == 0)) {
            for (int k = lo; k <= hi; ++k) {
                const double x = offsets[k - lo] * kPi;
                double w = 1.0;
                if (x != 0.0) {
                    const int n = whole[k] - i;
                    const double s = angles.covers(n)
                                         ? angles.sinAt(n) * cosF[k] + angles.cosAt(n) * sinF[k]
                                         : std::sin(x);
                    w = s / x;
                }
                weights[k - lo] = w;
            }
            if (full) {
                rowOffsets = offsets;
                haveRow = true;
            } else {
                haveRow = false;
            }
        }
        out[i] = dotProduct(source + lo, weights.data(), count);
        if ((i + 1) % kReportEvery == 0) {
            report(progress, i + 1, length);
            if (abandoned(progress)) return;
        }
    }
    report(progress, length, length);
}

} // namespace

int resampleTo96k(const double* source, int& frames, int rate, double* out,
                  const ResampleProgress& progress) {
    if (rate <= 0 || frames <= 0) return 0;
    if (rate == 96000) {
        const int length = std::min(frames, conversion::kBufferLength);
        frames = length;
        std::copy(source, source + length, out);
        report(progress, length, length);
        return length;
    }
    const double exact = std::trunc(96000.0 / double(rate) * double(frames) + 0.5);
    int length = 0;
    if (exact > double(conversion::kBufferLength)) {
        length = conversion::kBufferLength;
        const int capped = int(std::trunc(double(rate) * 48000.0 / 96000.0 + 0.5));
        frames = std::min(frames, capped);
    } else {
        length = int(exact);
    }
    if (length <= 0) return length;
    if (frames > length)
        downsample(source, frames, rate, out, length, progress);
    else
        upsample(source, frames, rate, out, length, progress);
    return length;
}

} // namespace kx5
