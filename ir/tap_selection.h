// From the normalised 96 kHz impulse response to the sparse filter of the
// coefficient file: the half-band filter, the choice of the strongest taps
// and the analysis of the tail into 24 loop segments.
#pragma once

#include "ir/conversion_state.h"

namespace kx5 {

// taps[j] for j < length: 0 at odd j, the half-band value at even j
// (+-100 samples, Hann-windowed sinc of half the band, no 1/2 factor).
void halfBandFilter(const double* ir, int length, double* taps);

// Keeps the at most 1640 largest magnitudes among taps[0..tapCount) found by
// the threshold bisection and zeroes the others. When more than 1640 values
// stay above the final threshold (possible only for magnitudes above 1.0)
// the 1640 largest are kept, earlier ones first among equals.
void selectStrongestTaps(double* taps, int tapCount);

// Fills loopTarget, loopSource and loopGain and applies the tail copy.
void analyseTail(ConversionState& state);

// The half-band stage, the selection and the tail analysis on state.ir96k.
void selectTapsAndAnalyseTail(ConversionState& state);

} // namespace kx5
