// Power-of-two FFT on double arrays: a radix-2 decimation-in-frequency complex
// transform with sine/cosine and bit-reversal tables, and a packed real
// transform of size n built on a companion complex engine of size n/2.
//
// The twiddle angles use the constant 6.283185307 (not the double nearest to
// 2*pi) and the real transform combines its halves with a negative twiddle
// exponent while the complex transform uses the positive one. The level
// measurement of the conversion depends on magnitudes defined exactly this
// way, so neither is "fixed" here.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kx5 {

class CFFT {
  public:
    // Bit pattern 0x401921FB54411744.
    static constexpr double kTwoPi = 6.283185307;

    CFFT();
    virtual ~CFFT();
    CFFT(const CFFT&) = delete;
    CFFT& operator=(const CFFT&) = delete;

    // Prepares an engine of size 2^log2size. An exponent outside 1..30
    // leaves the engine not ready (its transforms then do nothing).
    void init(int log2size, bool inverse, bool withCompanion);

    // In place on n values each. Forward: X[k] = sum x[t] e^(+2 pi i k t / n);
    // inverse: the negative exponent and a 1/n scale.
    void transformComplex(double* re, double* im);
    // In place on n values, direction from init. Needs the companion and
    // n >= 4; otherwise does nothing.
    void transformReal(double* w);

    bool ready() const { return ready_ != 0; }
    int size() const { return size_; }
    int log2size() const { return log2size_; }
    bool inverse() const { return inverse_ != 0; }
    const CFFT* companion() const { return companion_.get(); }
    const std::vector<double>& sine() const { return sine_; }
    const std::vector<double>& cosine() const { return cosine_; }
    int bitReverseBits() const { return bitReverseBits_; }

  private:
    void buildBitReverse(int bits);
    int32_t reversed(int32_t i) const;
    void forwardReal(double* w);
    void inverseReal(double* w);

    int32_t size_ = 0;
    int32_t inverse_ = 0;
    std::vector<double> scratch_;
    std::vector<double> sine_;
    std::vector<double> cosine_;
    int32_t ready_ = 0;
    std::unique_ptr<CFFT> companion_;
    int32_t log2size_ = 0;
    std::vector<int32_t> bitReverse_;
    int32_t bitReverseBits_ = 0;
};

} // namespace kx5
