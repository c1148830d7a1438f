// Helpers shared by the MIDI tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx5::test {

// Polls until the condition holds or the (generous) limit passes; the result
// is the condition's last value. Never used to measure time.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline std::vector<uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

// Thread-safe list of received messages.
class MessageLog {
  public:
    void add(const uint8_t* bytes, size_t size) {
        std::lock_guard lock(mutex_);
        messages_.emplace_back(bytes, bytes + size);
    }
    std::vector<std::vector<uint8_t>> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    size_t size() const {
        std::lock_guard lock(mutex_);
        return messages_.size();
    }
    void clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::vector<uint8_t>> messages_;
};

} // namespace kx5::test
