// Worker thread base: run() on a thread of its own. A joinable thread is
// joined by its owner (or the destructor); an auto-delete thread destroys its
// object when run() returns.
#pragma once

#include <thread>

namespace kx5 {

class Thread {
  public:
    explicit Thread(bool autoDelete = false) : autoDelete_(autoDelete) {}
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void start();
    void join();
    bool joinable() const { return thread_.joinable(); }
    bool autoDelete() const { return autoDelete_; }

  protected:
    virtual void run() = 0;

  private:
    std::thread thread_;
    bool autoDelete_;
};

} // namespace kx5
