// Band-limited resampling of the impulse response to 96 kHz: a sinc
// interpolation over +-1024 input samples (sinc(x) = sin(x)/x with the
// conversion's rounded pi), scaled by rate/96000 when upsampling.
//
// The sine of every term is obtained from sin(a + b) = sin a cos b +
// cos a sin b with tabulated a, so one sine and cosine pair is evaluated per
// distinct fractional offset; outputs that share an offset share one row of
// weights. The argument of every term and its divisor are the same doubles a
// term-by-term evaluation produces.
#pragma once

#include <atomic>
#include <functional>

namespace kx5 {

struct ResampleProgress {
    // Called now and then with the number of outputs finished.
    std::function<void(int done, int total)> report;
    // Checked between rows: when set the work stops early.
    const std::atomic<bool>* abandon = nullptr;
};

// source holds `frames` samples at `rate` (> 0); out has room for 48000.
// Returns the 96 kHz length (<= 0: nothing to resample). When the 96 kHz
// length would exceed 48000 it is cut to 48000 and `frames` lowered to
// trunc(rate / 2 + 0.5).
int resampleTo96k(const double* source, int& frames, int rate, double* out,
                  const ResampleProgress& progress = {});

} // namespace kx5
