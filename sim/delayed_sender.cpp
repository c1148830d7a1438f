#include "sim/delayed_sender.h"

namespace kx5::sim {

DelayedSender::DelayedSender(std::chrono::milliseconds delay, Sink sink)
    : delay_(delay), sink_(std::move(sink)), thread_([this] { run(); }) {}

DelayedSender::~DelayedSender() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    signal_.notify_all();
    thread_.join();
}

void DelayedSender::send(const Bytes& message) {
    {
        std::lock_guard lock(mutex_);
        queue_.emplace_back(std::chrono::steady_clock::now() + delay_, message);
    }
    signal_.notify_all();
}

void DelayedSender::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (queue_.empty()) {
            signal_.wait(lock);
            continue;
        }
        const auto due = queue_.front().first;
        if (std::chrono::steady_clock::now() < due) {
            signal_.wait_until(lock, due);
            continue;
        }
        Bytes message = std::move(queue_.front().second);
        queue_.pop_front();
        lock.unlock();
        sink_(message);
        lock.lock();
    }
}

} // namespace kx5::sim
