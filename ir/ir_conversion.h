// The conversion pipeline the worker runs on a loaded ConversionState:
// resampling to 96 kHz, level normalisation, tap selection and tail
// analysis, with the stage and counter the progress poll reads.
#pragma once

#include "ir/conversion_state.h"

#include <atomic>
#include <functional>

namespace kx5 {

enum class ConversionOutcome {
    Cancelled, // a cancel was seen after the channel copy or the resampling
    Unusable,  // no level can be measured, or a value is not finite
    Converted, // the file values are ready
};

// Called on the worker thread whenever the stage or stage 2's counter changes.
using StageObserver = std::function<void(int32_t stage)>;

// `abandon` stops the work early (program shutting down).
ConversionOutcome runConversion(ConversionState& state, const std::atomic<bool>& abandon,
                                const StageObserver& observer = {});

// 2^ceil(log2(35 * length)) as the normalisation sizes its transform.
int normalisationLog2Size(int length);

} // namespace kx5
