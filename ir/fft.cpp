#include "ir/fft.h"

#include <cmath>

namespace kx5 {

CFFT::CFFT() {
    buildBitReverse(10);
}

CFFT::~CFFT() = default;

void CFFT::init(int log2size, bool inverse, bool withCompanion) {
    if (log2size < 1 || log2size > 30) {
        ready_ = 0;
        return;
    }
    ready_ = 1;
    companion_.reset();
    if (withCompanion) {
        companion_ = std::make_unique<CFFT>();
        companion_->init(log2size - 1, inverse, false);
    }
    log2size_ = log2size;
    size_ = int32_t(1) << log2size;
    inverse_ = inverse ? 1 : 0;
    const size_t n = size_t(size_);
    sine_.assign(n, 0.0);
    cosine_.assign(n, 0.0);
    scratch_.assign(2 * n, 0.0);
    const double reciprocal = 1.0 / double(size_);
    const double sign = inverse ? -1.0 : 1.0;
    for (size_t i = 0; i < n; ++i) {
        const double theta = double(i) * kTwoPi * reciprocal;
        sine_[i] = std::sin(theta) * sign;
        cosine_[i] = std::cos(theta);
    }
}

void CFFT::buildBitReverse(int bits) {
    const size_t count = size_t(1) << bits;
    bitReverse_.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        uint32_t r = 0;
        for (int b = 0; b < bits; ++b)
            if (i & (size_t(1) << b)) r |= uint32_t(1) << (bits - 1 - b);
        bitReverse_[i] = int32_t(r);
    }
    bitReverseBits_ = bits;
}

int32_t CFFT::reversed(int32_t i) const {
    return bitReverse_[size_t(i)] >> (bitReverseBits_ - log2size_);
}

void CFFT::transformComplex(double* re, double* im) {
    if (!ready_) return;
    const int32_t n = size_;
    for (int s = 0; s < log2size_; ++s) {
        const int32_t half = n >> (s + 1);
        const int32_t stride = int32_t(1) << s;
        for (int32_t g = 0; g < n; g += 2 * half) {
            for (int32_t k = 0; k < half; ++k) {
                const int32_t q = g + k;
                const int32_t p = q + half;
                const size_t t = size_t(k) * size_t(stride);
                const double a = re[q], b = im[q], c = re[p], d = im[p];
                re[q] = a + c;
                im[q] = b + d;
                re[p] = (a - c) * cosine_[t] - (b - d) * sine_[t];
                im[p] = (b - d) * cosine_[t] + (a - c) * sine_[t];
            }
        }
    }
    if (bitReverseBits_ < log2size_) buildBitReverse(log2size_);
    double* oldRe = scratch_.data();
    double* oldIm = scratch_.data() + n;
    for (int32_t i = 0; i < n; ++i) {
        oldRe[i] = re[i];
        oldIm[i] = im[i];
    }
    for (int32_t i = 0; i < n; ++i) {
        const int32_t r = reversed(i);
        re[i] = oldRe[r];
        im[i] = oldIm[r];
    }
    if (inverse_) {
        const double scale = 1.0 / double(n);
        for (int32_t i = 0; i < n; ++i) {
            re[i] *= scale;
            im[i] *= scale;
        }
    }
}

void CFFT::transformReal(double* w) {
    if (!ready_ || !companion_ || log2size_ < 2) return;
    if (inverse_)
        inverseReal(w);
    else
        forwardReal(w);
}

void CFFT::forwardReal(double* w) {
    const int32_t n = size_;
    const int32_t m = n / 2;
    std::vector<double> re(size_t(m), 0.0), im(size_t(m), 0.0);
    for (int32_t t = 0; t < m; ++t) {
        re[t] = w[2 * t];
        im[t] = w[2 * t + 1];
    }
    companion_->transformComplex(re.data(), im.data());
    const double e0 = re[0], o0 = im[0];
    const double eHalf = re[m / 2], oHalf = im[m / 2];
    for (int32_t k = 1; k < m / 2; ++k) {
        const double reE = (re[k] + re[m - k]) * 0.5;
        const double imE = (im[k] - im[m - k]) * 0.5;
        const double reO = (im[k] + im[m - k]) * 0.5;
        const double imO = (re[m - k] - re[k]) * 0.5;
        const double reO2 = reO * cosine_[k] + imO * sine_[k];
        const double imO2 = imO * cosine_[k] - reO * sine_[k];
        w[2 * k] = reE + reO2;
        w[2 * k + 1] = imE + imO2;
        w[n - 2 * k] = reE - reO2;
        w[n - 2 * k + 1] = imO2 - imE;
    }
    w[0] = e0 + o0;
    w[1] = e0 - o0;
    w[n / 2] = eHalf;
    w[n / 2 + 1] = -oHalf;
}

void CFFT::inverseReal(double* w) {
    const int32_t n = size_;
    const int32_t m = n / 2;
    std::vector<double> p(static_cast<size_t>(n)), q(static_cast<size_t>(n));
    p[0] = (w[1] + w[0]) * 0.5;
    q[0] = (w[0] - w[1]) * 0.5;
    p[1] = w[n / 2];
    q[1] = w[n / 2 + 1];
    for (int32_t i = 1; i < n / 4; ++i) {
        const int32_t s = n - 2 * i;
        p[2 * i] = (w[s] + w[2 * i]) * 0.5;
        q[2 * i] = (w[2 * i] - w[s]) * 0.5;
        p[2 * i + 1] = (w[2 * i + 1] - w[s + 1]) * 0.5;
        q[2 * i + 1] = (w[2 * i + 1] + w[s + 1]) * 0.5;
    }
    // q becomes R in place: entry j only reads its own pair.
    q[1] = -q[1];
    for (int32_t j = 1; j < n / 4; ++j) {
        const double q0 = q[2 * j], q1 = q[2 * j + 1];
        q[2 * j] = q1 * sine_[j] + q0 * cosine_[j];
        q[2 * j + 1] = q1 * cosine_[j] - q0 * sine_[j];
    }
    std::vector<double> re(static_cast<size_t>(m)), im(static_cast<size_t>(m));
    re[0] = p[0];
    im[0] = q[0];
    re[m / 2] = p[1];
    im[m / 2] = q[1];
    for (int32_t i = 1; i < m / 2; ++i) {
        re[i] = p[2 * i] - q[2 * i + 1];
        re[m - i] = p[2 * i] + q[2 * i + 1];
        im[i] = p[2 * i + 1] + q[2 * i];
        im[m - i] = q[2 * i] - p[2 * i + 1];
    }
    companion_->transformComplex(re.data(), im.data());
    for (int32_t t = 0; t < m; ++t) {
        w[2 * t] = re[t];
        w[2 * t + 1] = im[t];
    }
}

} // namespace kx5
