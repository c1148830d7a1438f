// Hands messages to a sink after a fixed delay, in order, from a thread of
// its own (for the unit's late-reply fault).
#pragma once

#include "sim/sysex_codec.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kx5::sim {

class DelayedSender {
  public:
    using Sink = std::function<void(const Bytes&)>;
    DelayedSender(std::chrono::milliseconds delay, Sink sink);
    // Stops at once; messages not yet due are dropped.
    ~DelayedSender();
    DelayedSender(const DelayedSender&) = delete;
    DelayedSender& operator=(const DelayedSender&) = delete;

    void send(const Bytes& message);

  private:
    void run();

    const std::chrono::milliseconds delay_;
    Sink sink_;
    std::mutex mutex_;
    std::condition_variable signal_;
    std::deque<std::pair<std::chrono::steady_clock::time_point, Bytes>> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace kx5::sim
