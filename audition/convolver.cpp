#include "audition/convolver.h"

#include <fftw3.h>

#include <algorithm>
#include <complex>
#include <memory>
#include <mutex>

namespace kx5 {
namespace {

// FFTW's planner is not thread-safe (its transforms are).
std::mutex& plannerMutex() {
    static std::mutex m;
    return m;
}

struct FftwFree {
    void operator()(void* p) const { fftw_free(p); }
};
template <typename T> using FftwBuffer = std::unique_ptr<T[], FftwFree>;

template <typename T> FftwBuffer<T> allocate(size_t n) {
    return FftwBuffer<T>(static_cast<T*>(fftw_malloc(sizeof(T) * n)));
}

class Plans {
  public:
    Plans(size_t n, double* real, fftw_complex* spectrum) {
        std::lock_guard lock(plannerMutex());
        forward_ = fftw_plan_dft_r2c_1d(int(n), real, spectrum, FFTW_ESTIMATE);
        inverse_ = fftw_plan_dft_c2r_1d(int(n), spectrum, real, FFTW_ESTIMATE);
    }
    ~Plans() {
        std::lock_guard lock(plannerMutex());
        fftw_destroy_plan(forward_);
        fftw_destroy_plan(inverse_);
    }
    Plans(const Plans&) = delete;
    Plans& operator=(const Plans&) = delete;
    fftw_plan forward_ = nullptr;
    fftw_plan inverse_ = nullptr;
};

} // namespace

std::vector<float> convolve(const std::vector<float>& signal, const std::vector<float>& ir) {
    if (signal.empty() || ir.empty()) return {};
    const size_t length = signal.size() + ir.size() - 1;
    size_t n = 1;
    while (n < length)
        n <<= 1;
    const size_t bins = n / 2 + 1;
    auto real = allocate<double>(n);
    auto a = allocate<fftw_complex>(bins);
    auto b = allocate<fftw_complex>(bins);
    const Plans plans(n, real.get(), a.get());
    std::fill(real.get(), real.get() + n, 0.0);
    std::copy(ir.begin(), ir.end(), real.get());
    fftw_execute_dft_r2c(plans.forward_, real.get(), b.get());
    std::fill(real.get(), real.get() + n, 0.0);
    std::copy(signal.begin(), signal.end(), real.get());
    fftw_execute_dft_r2c(plans.forward_, real.get(), a.get());
    const double scale = 1.0 / double(n);
    for (size_t k = 0; k < bins; ++k) {
        const std::complex<double> x(a[k][0], a[k][1]), h(b[k][0], b[k][1]);
        const std::complex<double> y = x * h * scale;
        a[k][0] = y.real();
        a[k][1] = y.imag();
    }
    fftw_execute_dft_c2r(plans.inverse_, a.get(), real.get());
    return std::vector<float>(real.get(), real.get() + length);
}

} // namespace kx5
