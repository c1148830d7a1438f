#include "ir/conversion_state.h"

#include <algorithm>
#include <cmath>

namespace kx5 {
namespace {

struct StageRow {
    double start, divisor, end;
};

// Stages 1..10; stage 0 (not yet begun) has no row.
constexpr StageRow kStages[] = {
    {1, 1, 2},   {2, 100, 82}, {82, 1, 83}, {83, 1, 84}, {84, 1, 91},
    {91, 1, 93}, {93, 1, 95},  {95, 1, 97}, {97, 1, 99}, {99, 1, 100},
};

} // namespace

int32_t pollProgress(ConversionState& state) {
    const int32_t stage = state.stage.load(std::memory_order_acquire);
    const int32_t count = state.stageCount.load(std::memory_order_relaxed);
    int32_t p = 0;
    if (stage >= 1 && stage <= 10) {
        const StageRow& row = kStages[stage - 1];
        const double value = std::trunc(count / row.divisor * (row.end - row.start) + row.start);
        // A counter read across a stage change must not run past the stage.
        p = int32_t(std::clamp(value, row.start, row.end));
    }
    if (p > state.progress) state.progress = p;
    state.progress = std::clamp(state.progress, 1, 100);
    return state.progress;
}

} // namespace kx5
