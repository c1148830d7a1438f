#include "midi/timer.h"

#include <chrono>

namespace kx5 {

void Timer::start(int periodMs) {
    stop();
    {
        std::lock_guard lock(mutex_);
        periodMs_ = periodMs;
        stopRequested_ = false;
    }
    worker_ = std::make_unique<Worker>(*this);
    worker_->start();
}

void Timer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    stopSignal_.notify_all();
    worker_.reset();
}

void Timer::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopSignal_.wait_for(lock, std::chrono::milliseconds(periodMs_),
                                 [this] { return stopRequested_; }))
            return;
        lock.unlock();
        proc_.onTimer();
        lock.lock();
    }
}

} // namespace kx5
