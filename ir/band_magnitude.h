// The band measurement of the level normalisation without the full-size
// transform: the sum over bins first..last-1 of |Y[k]|, where Y is the
// packed spectrum CFFT's forward real transform of size n = 2^log2n gives
// for x[0..length) followed by zeros:
//   Y[k] = E[k] + e^(-i theta_k) O[k],
// E and O the size-n/2 transforms (positive exponent) of the even and odd
// samples, theta_k = k * 6.283185307 / n as in CFFT's tables.
// E and O are evaluated only on the band, with a chirp-z (Bluestein)
// convolution whose length is about length/2 + (last - first).
#pragma once

namespace kx5 {

// Requires 0 <= first <= last <= n / 4.
double bandMagnitudeSum(const double* x, int length, int log2n, int first, int last);

} // namespace kx5
