// CFFT: constants, sign conventions, the packed real format, round trips.
#include "ir/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace kx5 {
namespace {

TEST(Fft, TableConstantIsTheTenDigitValue) {
    uint64_t bits;
    std::memcpy(&bits, &CFFT::kTwoPi, 8);
    EXPECT_EQ(bits, 0x401921FB54411744u);
    CFFT f;
    f.init(4, false, false);
    EXPECT_EQ(f.sine()[3], std::sin(3.0 * CFFT::kTwoPi * (1.0 / 16)));
    EXPECT_EQ(f.cosine()[5], std::cos(5.0 * CFFT::kTwoPi * (1.0 / 16)));
    CFFT inv;
    inv.init(4, true, false);
    EXPECT_EQ(inv.sine()[3], -f.sine()[3]);
    EXPECT_EQ(inv.cosine()[3], f.cosine()[3]);
}

TEST(Fft, RealTransformOfImpulseIsFlat) {
    CFFT f;
    f.init(4, false, true);
    std::vector<double> w(16, 0.0);
    w[0] = 1.0;
    f.transformReal(w.data());
    EXPECT_EQ(w[0], 1.0);
    EXPECT_EQ(w[1], 1.0);
    for (int k = 1; k < 8; ++k) {
        EXPECT_NEAR(w[2 * k], 1.0, 1e-15) << k;
        EXPECT_NEAR(w[2 * k + 1], 0.0, 1e-15) << k;
    }
}

TEST(Fft, RealTransformUsesNegativeTwiddleOverPositiveHalves) {
    // x[1] = 1: E = 0 and O = 1 everywhere, so Y[k] = e^(-i theta_k).
    CFFT f;
    f.init(5, false, true);
    std::vector<double> w(32, 0.0);
    w[1] = 1.0;
    f.transformReal(w.data());
    EXPECT_EQ(w[0], 1.0);
    EXPECT_EQ(w[1], -1.0);
    for (int k = 1; k < 16; ++k) {
        const double theta = k * CFFT::kTwoPi / 32;
        // Bins above n/4 come from the mirrored table entries.
        EXPECT_NEAR(w[2 * k], std::cos(theta), 1e-9) << k;
        EXPECT_NEAR(w[2 * k + 1], -std::sin(theta), 1e-9) << k;
    }
    // x[2] = 1: E[k] = e^(+2 pi i k / 16) from the positive-exponent half.
    std::fill(w.begin(), w.end(), 0.0);
    w[2] = 1.0;
    f.transformReal(w.data());
    for (int k = 1; k < 16; ++k) {
        EXPECT_NEAR(w[2 * k], std::cos(2 * M_PI * k / 16), 1e-9) << k;
        EXPECT_NEAR(w[2 * k + 1], std::sin(2 * M_PI * k / 16), 1e-9) << k;
    }
}

TEST(Fft, ComplexTransformOfShiftedImpulse) {
    for (int log2n : {3, 6, 11}) {
        const int n = 1 << log2n;
        CFFT f;
        f.init(log2n, false, false);
        std::vector<double> re(size_t(n), 0.0), im(size_t(n), 0.0);
        re[1] = 1.0;
        f.transformComplex(re.data(), im.data());
        for (int k = 0; k < n; ++k) {
            // Up to the precision of the ten-digit 2 pi.
            EXPECT_NEAR(re[k], std::cos(2 * M_PI * k / n), 1e-8) << n << " " << k;
            EXPECT_NEAR(im[k], std::sin(2 * M_PI * k / n), 1e-8) << n << " " << k;
        }
        CFFT inv;
        inv.init(log2n, true, false);
        inv.transformComplex(re.data(), im.data());
        for (int t = 0; t < n; ++t) {
            EXPECT_NEAR(re[t], t == 1 ? 1.0 : 0.0, 1e-12);
            EXPECT_NEAR(im[t], 0.0, 1e-12);
        }
    }
}

TEST(Fft, RealRoundTripsReproduceTheInput) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int log2n : {2, 3, 6, 12}) {
        const int n = 1 << log2n;
        CFFT f, inv;
        f.init(log2n, false, true);
        inv.init(log2n, true, true);
        std::vector<double> x(static_cast<size_t>(n));
        for (double& v : x)
            v = u(rng);
        std::vector<double> w = x;
        f.transformReal(w.data());
        inv.transformReal(w.data());
        for (int i = 0; i < n; ++i)
            EXPECT_NEAR(w[i], x[i], 1e-12 * std::fabs(x[i]) + 1e-15) << n;
    }
}

TEST(Fft, RealTransformIsLinearAndParsevalHolds) {
    const int log2n = 8, n = 1 << log2n;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> a(n), b(n), sum(n);
    for (int i = 0; i < n; ++i) {
        a[i] = u(rng);
        b[i] = u(rng);
        sum[i] = a[i] + 2.0 * b[i];
    }
    CFFT f;
    f.init(log2n, false, true);
    f.transformReal(a.data());
    f.transformReal(b.data());
    f.transformReal(sum.data());
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(sum[i], a[i] + 2.0 * b[i], 1e-12);
}

TEST(Fft, BitReversalTableGrowsOnceForLargeSizes) {
    CFFT f;
    EXPECT_EQ(f.bitReverseBits(), 10);
    f.init(12, false, false);
    std::vector<double> re(4096, 0.0), im(4096, 0.0);
    re[3] = 1.0;
    f.transformComplex(re.data(), im.data());
    EXPECT_EQ(f.bitReverseBits(), 12);
    // A smaller transform on the same engine reads the larger table shifted.
    f.init(5, false, false);
    std::vector<double> r2(32, 0.0), i2(32, 0.0);
    r2[1] = 1.0;
    f.transformComplex(r2.data(), i2.data());
    EXPECT_EQ(f.bitReverseBits(), 12);
    for (int k = 0; k < 32; ++k)
        EXPECT_NEAR(r2[k], std::cos(2 * M_PI * k / 32), 1e-8) << k;
}

TEST(Fft, EngineThatIsNotReadyLeavesDataAlone) {
    CFFT f;
    std::vector<double> w{1, 2, 3, 4};
    f.transformReal(w.data());
    f.transformComplex(w.data(), w.data());
    EXPECT_EQ(w, (std::vector<double>{1, 2, 3, 4}));
    f.init(40, false, true); // out of range
    EXPECT_FALSE(f.ready());
    f.init(3, false, false); // no companion: no real transform
    f.transformReal(w.data());
    EXPECT_EQ(w, (std::vector<double>{1, 2, 3, 4}));
}

} // namespace
} // namespace kx5
