#include "library/ir_analysis.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numeric>
#include <vector>

namespace kx5 {
namespace {

constexpr size_t kMinTransform = 4096;
constexpr float kShapeRangeDb = 60.0f;

// FFTW's planner is not thread-safe; its transforms are.
std::mutex& plannerMutex() {
    static std::mutex m;
    return m;
}

size_t transformSize(size_t count) {
    size_t n = kMinTransform;
    while (n < count)
        n <<= 1;
    return n;
}

Thumbnail shapeOf(const Thumbnail& t) {
    const float peak = *std::max_element(t.begin(), t.end());
    Thumbnail s;
    for (size_t i = 0; i < t.size(); ++i)
        s[i] = std::max(t[i], peak - kShapeRangeDb);
    const float mean = std::accumulate(s.begin(), s.end(), 0.0f) / float(s.size());
    for (float& v : s)
        v -= mean;
    return s;
}

} // namespace

struct IrAnalyser::Plan {
    explicit Plan(size_t size) : n(size) {
        in = fftwf_alloc_real(n);
        out = fftwf_alloc_complex(n / 2 + 1);
        std::lock_guard lock(plannerMutex());
        plan = fftwf_plan_dft_r2c_1d(int(n), in, out, FFTW_ESTIMATE);
    }
    ~Plan() {
        {
            std::lock_guard lock(plannerMutex());
            fftwf_destroy_plan(plan);
        }
        fftwf_free(in);
        fftwf_free(out);
    }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;

    size_t n;
    float* in = nullptr;
    fftwf_complex* out = nullptr;
    fftwf_plan plan = nullptr;
};

double thumbnailFrequency(size_t i) {
    const double step = std::log(kThumbnailHighHz / kThumbnailLowHz) / double(kThumbnailPoints - 1);
    return kThumbnailLowHz * std::exp(step * double(i));
}

double thumbnailDistance(const Thumbnail& a, const Thumbnail& b) {
    const Thumbnail sa = shapeOf(a), sb = shapeOf(b);
    double sum = 0.0;
    for (size_t i = 0; i < sa.size(); ++i) {
        const double d = double(sa[i]) - double(sb[i]);
        sum += d * d;
    }
    return std::sqrt(sum / double(sa.size()));
}

IrAnalyser::IrAnalyser() = default;
IrAnalyser::~IrAnalyser() = default;

IrAnalyser::Plan& IrAnalyser::planFor(size_t size) {
    auto& plan = plans_[size];
    if (!plan) plan = std::make_unique<Plan>(size);
    return *plan;
}

IrSound IrAnalyser::analyse(const float* samples, size_t count, uint32_t sampleRate) {
    IrSound sound;
    sound.thumbnail.fill(kThumbnailFloorDb);
    if (count == 0 || sampleRate == 0) return sound;
    Plan& p = planFor(transformSize(count));
    const size_t n = p.n;
    std::copy(samples, samples + count, p.in);
    std::fill(p.in + count, p.in + n, 0.0f);
    fftwf_execute(p.plan);

    const size_t half = n / 2;
    std::vector<double> power(half + 1);
    for (size_t k = 0; k <= half; ++k)
        power[k] = double(p.out[k][0]) * p.out[k][0] + double(p.out[k][1]) * p.out[k][1];

    const double rate = sampleRate;
    const double nyquist = rate / 2.0;
    const auto binOf = [&](double hz) {
        return std::min(half, size_t(std::lround(hz * double(n) / rate)));
    };
    // Each point is the mean power over its share of the log axis, so the
    // curve reads like a smoothed analyser rather than single noisy bins.
    for (size_t i = 0; i < kThumbnailPoints; ++i) {
        const double f = thumbnailFrequency(i);
        const double lo = i == 0 ? f : std::sqrt(thumbnailFrequency(i - 1) * f);
        const double hi = i + 1 == kThumbnailPoints ? f : std::sqrt(f * thumbnailFrequency(i + 1));
        if (lo >= nyquist) continue;
        const size_t a = binOf(lo);
        const size_t b = std::max(a, binOf(hi));
        double sum = 0.0;
        for (size_t k = a; k <= b; ++k)
            sum += power[k];
        const double db = 10.0 * std::log10(std::max(sum / double(b - a + 1), 1e-30));
        sound.thumbnail[i] = float(std::max(db, double(kThumbnailFloorDb)));
    }

    double weighted = 0.0, total = 0.0;
    const size_t first = binOf(kThumbnailLowHz);
    const size_t last = binOf(std::min(kThumbnailHighHz, nyquist));
    for (size_t k = first; k <= last; ++k) {
        const double magnitude = std::sqrt(power[k]);
        weighted += magnitude * double(k) * rate / double(n);
        total += magnitude;
    }
    sound.brightnessHz = total > 0.0 ? weighted / total : 0.0;
    return sound;
}

} // namespace kx5
