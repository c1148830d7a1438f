// UiQueue over a GLib main context (the GTK main thread's in the program).
#pragma once

#include "bridge/glib_handles.h"
#include "bridge/ui_queue.h"

#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace kx5 {

class GlibUiQueue final : public UiQueue {
  public:
    // Uses the given context (the default one when null); the calling thread
    // is taken as the UI thread.
    explicit GlibUiQueue(GMainContext* context = nullptr);
    ~GlibUiQueue() override;

    bool post(Closure closure) override;
    void send(Closure closure) override;
    bool isUiThread() const override;

    // Stops accepting work; pending posts are dropped, pending sends released.
    void close();

  private:
    struct Shared;
    static int dispatchOne(void* data);
    std::shared_ptr<Shared> shared_;
    glib::MainContext context_;
    std::thread::id uiThread_;
};

} // namespace kx5
