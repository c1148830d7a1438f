#include "audio/engines/pulse_connection.h"

#include <pulse/pulseaudio.h>

namespace kx5 {
namespace {

void wake(pa_context*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

struct Timeout {
    pa_threaded_mainloop* loop;
    bool expired = false;
};

void expire(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* t = static_cast<Timeout*>(userdata);
    t->expired = true;
    pa_threaded_mainloop_signal(t->loop, 0);
}

} // namespace

PulseConnection::Lock::Lock(const PulseConnection& c) : loop_(c.loop_) {
    pa_threaded_mainloop_lock(loop_);
}

PulseConnection::Lock::~Lock() {
    pa_threaded_mainloop_unlock(loop_);
}

bool PulseConnection::onLoopThread() const {
    return pa_threaded_mainloop_in_thread(loop_) != 0;
}

void PulseConnection::signal() {
    pa_threaded_mainloop_signal(loop_, 0);
}

std::unique_ptr<PulseConnection> PulseConnection::connect(const std::string& clientName,
                                                          int timeoutMs) {
    std::unique_ptr<PulseConnection> c(new PulseConnection);
    c->loop_ = pa_threaded_mainloop_new();
    if (!c->loop_) return nullptr;
    c->context_ = pa_context_new(pa_threaded_mainloop_get_api(c->loop_), clientName.c_str());
    if (!c->context_) return nullptr;
    pa_context_set_state_callback(c->context_, wake, c->loop_);
    if (pa_threaded_mainloop_start(c->loop_) < 0) return nullptr;
    c->started_ = true;
    Lock lock(*c);
    if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return nullptr;
    pa_context* ctx = c->context_;
    const bool settled = c->waitFor(
        [ctx] {
            return !PA_CONTEXT_IS_GOOD(pa_context_get_state(ctx)) ||
                   pa_context_get_state(ctx) == PA_CONTEXT_READY;
        },
        timeoutMs);
    if (!settled || pa_context_get_state(ctx) != PA_CONTEXT_READY) return nullptr;
    return c;
}

PulseConnection::~PulseConnection() {
    if (context_) {
        if (started_) pa_threaded_mainloop_lock(loop_);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        if (started_) pa_threaded_mainloop_unlock(loop_);
    }
    if (loop_) {
        if (started_) pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }
}

bool PulseConnection::waitFor(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    Timeout timeout{loop_};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    struct timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(timeoutMs) * 1000);
    pa_time_event* event = api->time_new(api, &when, expire, &timeout);
    while (!done() && !timeout.expired)
        pa_threaded_mainloop_wait(loop_);
    api->time_free(event);
    return done();
}

bool PulseConnection::waitOperation(pa_operation* op, int timeoutMs) {
    if (!op) return false;
    pa_operation_set_state_callback(
        op,
        [](pa_operation*, void* loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        },
        loop_);
    const bool ok =
        waitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeoutMs);
    if (!ok) pa_operation_cancel(op);
    pa_operation_unref(op);
    return ok;
}

} // namespace kx5
