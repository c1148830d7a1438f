// Sum of a[i] * b[i] with several independent partial sums (vectorised).
#pragma once

namespace kx5 {

double dotProduct(const double* a, const double* b, int count);

} // namespace kx5
