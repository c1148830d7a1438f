// A PulseAudio client connection with its own event thread (threaded main
// loop). Callbacks run on that thread with the loop's lock held. The
// PulseAudio objects are opaque here; only the engines' sources include
// <pulse/pulseaudio.h>.
#pragma once

#include <functional>
#include <memory>
#include <string>

struct pa_context;
struct pa_operation;
struct pa_stream;
struct pa_threaded_mainloop;

namespace kx5 {

class PulseConnection {
  public:
    // Connects to the default server (never spawns one); nullptr when no
    // server answers within timeoutMs.
    static std::unique_ptr<PulseConnection> connect(const std::string& clientName,
                                                    int timeoutMs = 3000);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* mainloop() const { return loop_; }
    pa_context* context() const { return context_; }
    bool onLoopThread() const;

    // With the lock held: waits until done() holds or timeoutMs passed;
    // false on timeout. Callbacks wake the waiter with signal().
    bool waitFor(const std::function<bool()>& done, int timeoutMs);
    void signal();
    // With the lock held: waits for an operation to finish and releases it.
    bool waitOperation(pa_operation* op, int timeoutMs = 3000);

    class Lock {
      public:
        explicit Lock(const PulseConnection& c);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

  private:
    PulseConnection() = default;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool started_ = false;
};

} // namespace kx5
