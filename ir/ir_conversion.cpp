#include "ir/ir_conversion.h"

#include "ir/band_magnitude.h"
#include "ir/coefficient_file.h"
#include "ir/resampler.h"
#include "ir/tap_selection.h"

#include <algorithm>
#include <cmath>

namespace kx5 {
namespace {

bool cancelled(const ConversionState& s) {
    return s.cancelRequested.load() == 1;
}

class Stages {
  public:
    Stages(ConversionState& s, const StageObserver& observer) : s_(s), observer_(observer) {}

    void enter(int32_t stage) {
        s_.enterStage(stage);
        if (observer_) observer_(stage);
    }

    // Stage 2's counter: one step per hundredth of the outputs, at most 99.
    void resampled(int done, int total) {
        const int step = total / 100;
        const int count = step > 0 ? std::min(99, done / step) : (done > 0 ? 1 : 0);
        if (count <= 0) return;
        s_.stageCount.store(count, std::memory_order_relaxed);
        s_.stage.store(2, std::memory_order_release);
        if (observer_) observer_(2);
    }

  private:
    ConversionState& s_;
    const StageObserver& observer_;
};

// Scales ir96k so that the mean magnitude of its spectrum over the bins
// nearest 200 Hz and 300 Hz is 1. Transforming back after the scale gives
// the scaled input again, so only the band is measured.
bool normalise(ConversionState& s, Stages& stages) {
    stages.enter(4);
    const int length = s.length96k;
    const int log2n = normalisationLog2Size(length);
    if (log2n < 2 || log2n > 30) return false;
    const double n = double(int64_t(1) << log2n);
    stages.enter(5);
    const int first = int(std::trunc(n * 0.0020833333333333333 + 0.5));
    const int last = int(std::trunc(n * 0.003125 + 0.5));
    const double sum = bandMagnitudeSum(s.ir96k.data(), length, log2n, first, last);
    stages.enter(6);
    const double gain = double(last - first) / sum;
    if (!(sum > 0.0) || !std::isfinite(sum) || !std::isfinite(gain)) return false;
    stages.enter(7);
    stages.enter(8);
    for (int i = 0; i < length; ++i)
        s.ir96k[size_t(i)] *= gain;
    return true;
}

} // namespace

int normalisationLog2Size(int length) {
    return int(std::ceil(std::log(35.0 * double(length)) / std::log(2.0)));
}

ConversionOutcome runConversion(ConversionState& s, const std::atomic<bool>& abandon,
                                const StageObserver& observer) {
    if (cancelled(s) || abandon.load()) return ConversionOutcome::Cancelled;
    Stages stages(s, observer);
    stages.enter(1);
    int frames = s.sourceFrames;
    ResampleProgress progress;
    progress.report = [&stages](int done, int total) { stages.resampled(done, total); };
    progress.abandon = &abandon;
    s.length96k = resampleTo96k(s.source.data(), frames, s.sourceRate, s.ir96k.data(), progress);
    s.sourceFrames = frames;
    stages.enter(3);
    if (abandon.load() || cancelled(s)) return ConversionOutcome::Cancelled;
    if (s.length96k <= 0 || !normalise(s, stages)) return ConversionOutcome::Unusable;
    stages.enter(9);
    selectTapsAndAnalyseTail(s);
    stages.enter(10);
    for (float v : coefficientValues(s))
        if (!std::isfinite(v)) return ConversionOutcome::Unusable;
    return ConversionOutcome::Converted;
}

} // namespace kx5
