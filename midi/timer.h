// A thread that calls its Proc every period; the period counts from the end of
// one call to the next wait.
#pragma once

#include "bridge/thread.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace kx5 {

class Timer {
  public:
    class Proc {
      public:
        virtual ~Proc() = default;
        virtual void onTimer() = 0;
    };

    explicit Timer(Proc& proc) : proc_(proc) {}
    ~Timer() { stop(); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Stops a running thread, then starts a new one with this period.
    void start(int periodMs);
    // Ends the thread and waits for it (a running onTimer finishes first).
    void stop();

  private:
    class Worker final : public Thread {
      public:
        explicit Worker(Timer& timer) : timer_(timer) {}
        ~Worker() override { join(); }

      protected:
        void run() override { timer_.run(); }

      private:
        Timer& timer_;
    };

    void run();

    Proc& proc_;
    std::mutex mutex_;
    std::condition_variable stopSignal_;
    bool stopRequested_ = false;
    int periodMs_ = 1000;
    std::unique_ptr<Worker> worker_;
};

} // namespace kx5
