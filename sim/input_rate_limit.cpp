#include "sim/input_rate_limit.h"

#include <algorithm>

namespace kx5::sim {

bool InputRateLimit::accept(size_t size, double t) {
    if (bytesPerSecond_ <= 0) return true;
    if (started_ && t > last_) level_ = std::max(0.0, level_ - (t - last_) * bytesPerSecond_);
    if (!started_ || t > last_) last_ = t;
    started_ = true;
    const double need = static_cast<double>(size);
    if (level_ + need > capacity_) return false;
    level_ += need;
    return true;
}

} // namespace kx5::sim
