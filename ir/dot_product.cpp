#include "ir/dot_product.h"

#include <cstring>

namespace kx5 {
namespace {

// Four independent partial sums of V-wide vectors, then the scalar rest.
template <typename V, int kWidth>
__attribute__((always_inline)) inline double dotWith(const double* a, const double* b, int count) {
    V s0{}, s1{}, s2{}, s3{}, x0, x1, x2, x3, y0, y1, y2, y3;
    constexpr int kStep = 4 * kWidth;
    constexpr size_t kBytes = sizeof(V);
    int i = 0;
    for (; i + kStep <= count; i += kStep) {
        std::memcpy(&x0, a + i, kBytes);
        std::memcpy(&x1, a + i + kWidth, kBytes);
        std::memcpy(&x2, a + i + 2 * kWidth, kBytes);
        std::memcpy(&x3, a + i + 3 * kWidth, kBytes);
        std::memcpy(&y0, b + i, kBytes);
        std::memcpy(&y1, b + i + kWidth, kBytes);
        std::memcpy(&y2, b + i + 2 * kWidth, kBytes);
        std::memcpy(&y3, b + i + 3 * kWidth, kBytes);
        s0 += x0 * y0;
        s1 += x1 * y1;
        s2 += x2 * y2;
        s3 += x3 * y3;
    }
    for (; i + kWidth <= count; i += kWidth) {
        std::memcpy(&x0, a + i, kBytes);
        std::memcpy(&y0, b + i, kBytes);
        s0 += x0 * y0;
    }
    const V s = (s0 + s1) + (s2 + s3);
    double sum = 0.0;
    for (int k = 0; k < kWidth; ++k)
        sum += s[k];
    for (; i < count; ++i)
        sum += a[i] * b[i];
    return sum;
}

typedef double Vec2 __attribute__((vector_size(16)));
typedef double Vec4 __attribute__((vector_size(32)));
typedef double Vec8 __attribute__((vector_size(64)));

__attribute__((target("avx512f"))) double dot512(const double* a, const double* b, int count) {
    return dotWith<Vec8, 8>(a, b, count);
}

__attribute__((target("avx2"))) double dot256(const double* a, const double* b, int count) {
    return dotWith<Vec4, 4>(a, b, count);
}

double dot128(const double* a, const double* b, int count) {
    return dotWith<Vec2, 2>(a, b, count);
}

using DotFunction = double (*)(const double*, const double*, int);

DotFunction chooseDot() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return dot512;
    if (__builtin_cpu_supports("avx2")) return dot256;
    return dot128;
}

const DotFunction dot = chooseDot();

} // namespace

double dotProduct(const double* a, const double* b, int count) {
    return dot(a, b, count);
}

} // namespace kx5
