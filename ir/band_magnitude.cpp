#include "ir/band_magnitude.h"

#include "ir/fft.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kx5 {
namespace {

struct Complex {
    double re = 0.0, im = 0.0;
};

inline Complex mul(Complex a, Complex b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

// In-place radix-2 transform of a power-of-two size with the exact angle
// 2 pi / size: forward with e^(-i...), backward with e^(+i...), unscaled.
class PowerOfTwoFft {
  public:
    explicit PowerOfTwoFft(int log2size) : size_(size_t(1) << log2size), reversed_(size_) {
        forward_.resize(size_ / 2);
        backward_.resize(size_ / 2);
        for (size_t j = 0; j < size_ / 2; ++j) {
            const double a = 2.0 * M_PI * double(j) / double(size_);
            backward_[j] = {std::cos(a), std::sin(a)};
            forward_[j] = {backward_[j].re, -backward_[j].im};
        }
        for (size_t i = 1; i < size_; ++i)
            reversed_[i] = uint32_t((reversed_[i >> 1] >> 1) | ((i & 1) << (log2size - 1)));
    }

    void forward(std::vector<Complex>& a) const { transform(a, forward_); }
    void backward(std::vector<Complex>& a) const { transform(a, backward_); }
    size_t size() const { return size_; }

  private:
    void transform(std::vector<Complex>& a, const std::vector<Complex>& twiddle) const {
        for (size_t i = 0; i < size_; ++i)
            if (i < reversed_[i]) std::swap(a[i], a[reversed_[i]]);
        for (size_t start = 0; start < size_; start += 2) {
            const Complex u = a[start], v = a[start + 1];
            a[start] = {u.re + v.re, u.im + v.im};
            a[start + 1] = {u.re - v.re, u.im - v.im};
        }
        for (size_t len = 4; len <= size_; len *= 2) {
            const size_t half = len / 2, step = size_ / len;
            for (size_t start = 0; start < size_; start += len) {
                Complex* lo = a.data() + start;
                Complex* hi = lo + half;
                for (size_t j = 0; j < half; ++j) {
                    const Complex w = twiddle[j * step];
                    const Complex v = mul(hi[j], w);
                    const Complex u = lo[j];
                    lo[j] = {u.re + v.re, u.im + v.im};
                    hi[j] = {u.re - v.re, u.im - v.im};
                }
            }
        }
    }

    size_t size_;
    std::vector<Complex> forward_, backward_;
    std::vector<uint32_t> reversed_;
};

// e^(i pi q^2 / m) with the phase reduced exactly (m a power of two).
Complex chirp(int64_t q, int64_t m) {
    const int64_t r = (q * q) % (2 * m);
    const double a = M_PI * (double(r) / double(m));
    return {std::cos(a), std::sin(a)};
}

} // namespace

double bandMagnitudeSum(const double* x, int length, int log2n, int first, int last) {
    if (length <= 0 || last <= first || log2n < 2) return 0.0;
    const int64_t n = int64_t(1) << log2n;
    const int64_t m = n / 2;
    const int64_t half = (int64_t(length) + 1) / 2; // even samples; odd ones padded
    const int64_t bins = last - first;
    // Convolution of `half` chirped samples with the kernel over
    // u = first - (half - 1) ... last - 1.
    const int64_t kernelStart = first - (half - 1);
    const int64_t kernelLength = bins + half - 1;
    int log2size = 1;
    while ((int64_t(1) << log2size) < kernelLength)
        ++log2size;
    const PowerOfTwoFft fft(log2size);
    const size_t size = fft.size();

    // e^(i pi q^2 / m) for q = 0 ... max(half, last) - 1 (the kernel's
    // negative arguments have the same value as their magnitude's).
    const int64_t chirpCount = std::max<int64_t>(half, last);
    std::vector<Complex> chirps(static_cast<size_t>(chirpCount));
    for (int64_t q = 0; q < chirpCount; ++q)
        chirps[size_t(q)] = chirp(q, m);
    auto chirpAt = [&](int64_t q) { return chirps[size_t(q < 0 ? -q : q)]; };

    std::vector<Complex> kernel(size);
    for (int64_t s = 0; s < kernelLength; ++s) {
        const Complex c = chirpAt(kernelStart + s);
        kernel[size_t(s)] = {c.re, -c.im};
    }
    fft.forward(kernel);

    std::vector<Complex> a(size);
    auto bandOf = [&](int parity) {
        std::fill(a.begin(), a.end(), Complex{});
        for (int64_t t = 0; t < half; ++t) {
            const int64_t i = 2 * t + parity;
            const double v = i < length ? x[i] : 0.0;
            a[size_t(t)] = {v * chirps[size_t(t)].re, v * chirps[size_t(t)].im};
        }
        fft.forward(a);
        for (size_t i = 0; i < size; ++i)
            a[i] = mul(a[i], kernel[i]);
        fft.backward(a);
        const double scale = 1.0 / double(size);
        std::vector<Complex> band(static_cast<size_t>(bins));
        for (int64_t k = first; k < last; ++k) {
            const Complex v = a[size_t(k - kernelStart)];
            band[size_t(k - first)] = mul(Complex{v.re * scale, v.im * scale}, chirpAt(k));
        }
        return band;
    };
    const std::vector<Complex> even = bandOf(0);
    const std::vector<Complex> odd = bandOf(1);

    const double reciprocal = 1.0 / double(n);
    double sum = 0.0;
    for (int64_t k = first; k < last; ++k) {
        const Complex e = even[size_t(k - first)];
        const Complex o = odd[size_t(k - first)];
        double yr, yi;
        if (k == 0) {
            // The packed pair of bin 0: the plain and the alternating sum.
            yr = e.re + o.re;
            yi = e.re - o.re;
        } else {
            const double theta = double(k) * CFFT::kTwoPi * reciprocal;
            const double c = std::cos(theta), s = std::sin(theta);
            yr = e.re + (o.re * c + o.im * s);
            yi = e.im + (o.im * c - o.re * s);
        }
        sum += std::sqrt(yr * yr + yi * yi);
    }
    return sum;
}

} // namespace kx5
