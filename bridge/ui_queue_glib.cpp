#include "bridge/ui_queue_glib.h"

#include <glib.h>

#include <condition_variable>

namespace kx5 {

struct GlibUiQueue::Shared {
    std::mutex mutex;
    std::deque<Closure> items;
    bool closed = false;
};

namespace {
struct SourceData {
    std::shared_ptr<void> keepAlive;
    void* shared;
};
} // namespace

GlibUiQueue::GlibUiQueue(GMainContext* context)
    : shared_(std::make_shared<Shared>()),
      context_(context ? g_main_context_ref(context)
                       : g_main_context_ref(g_main_context_default())),
      uiThread_(std::this_thread::get_id()) {}

GlibUiQueue::~GlibUiQueue() {
    close();
}

void GlibUiQueue::close() {
    std::deque<Closure> dropped;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->closed = true;
        dropped.swap(shared_->items);
    }
}

// Each queued closure gets an idle source of its own, but a source always runs
// the oldest closure in the deque: the order is the queue's, not GLib's, and a
// closure that spins a nested main loop does not hold up the ones behind it.
int GlibUiQueue::dispatchOne(void* data) {
    auto* shared = static_cast<Shared*>(static_cast<SourceData*>(data)->shared);
    Closure next;
    {
        std::lock_guard lock(shared->mutex);
        if (shared->items.empty()) return G_SOURCE_REMOVE;
        next = std::move(shared->items.front());
        shared->items.pop_front();
    }
    if (next) next();
    return G_SOURCE_REMOVE;
}

bool GlibUiQueue::post(Closure closure) {
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->closed) return false;
        shared_->items.push_back(std::move(closure));
    }
    auto* data = new SourceData{shared_, shared_.get()};
    const glib::Source source(g_idle_source_new());
    g_source_set_priority(source.get(), G_PRIORITY_DEFAULT);
    g_source_set_callback(source.get(), &GlibUiQueue::dispatchOne, data,
                          [](void* d) { delete static_cast<SourceData*>(d); });
    g_source_attach(source.get(), context_.get());
    return true;
}

void GlibUiQueue::send(Closure closure) {
    if (isUiThread()) {
        closure();
        return;
    }
    struct Done {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    // The guard releases the waiter even when the closure is dropped unrun.
    struct Signal {
        std::shared_ptr<Done> d;
        ~Signal() {
            if (!d) return;
            std::lock_guard lock(d->m);
            d->done = true;
            d->cv.notify_all();
        }
    };
    auto signal = std::make_shared<Signal>();
    signal->d = done;
    if (!post([c = std::move(closure), signal]() mutable { c(); })) return;
    signal.reset();
    std::unique_lock lock(done->m);
    done->cv.wait(lock, [&] { return done->done; });
}

bool GlibUiQueue::isUiThread() const {
    return std::this_thread::get_id() == uiThread_;
}

} // namespace kx5
