// The UI thread's work queue: post() queues a closure and returns at once,
// send() queues it and waits until the UI thread has run it. Closures run in
// the order they were queued, whichever of the two queued them.
#pragma once

#include <functional>

namespace kx5 {

class UiQueue {
  public:
    using Closure = std::function<void()>;
    virtual ~UiQueue() = default;
    // Returns false when the queue no longer accepts work (shutting down).
    virtual bool post(Closure closure) = 0;
    // Runs inline when called on the UI thread itself.
    virtual void send(Closure closure) = 0;
    virtual bool isUiThread() const = 0;
};

} // namespace kx5
