// Linear convolution of a signal with an impulse response, through FFTW
// (double precision, one transform the length of the whole result). Chosen
// over the project's own FFT by tests/audition/audition_benchmark.
#pragma once

#include <vector>

namespace kx5 {

// signal * ir, signal.size() + ir.size() - 1 samples (empty when either is).
std::vector<float> convolve(const std::vector<float>& signal, const std::vector<float>& ir);

} // namespace kx5
