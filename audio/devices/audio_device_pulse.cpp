#include "audio/devices/audio_device.h"

#include <pulse/pulseaudio.h>

#include <functional>

namespace kx5 {

// Owns a threaded main loop and (re)connects a context on it; every change
// of the sink or source set is reported through onChange.
struct AudioDevice::Watcher {
    static constexpr pa_usec_t kRetryUsec = 1000 * 1000;

    explicit Watcher(std::function<void()> onChange) : onChange_(std::move(onChange)) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return;
        api_ = pa_threaded_mainloop_get_api(loop_);
        pa_threaded_mainloop_lock(loop_);
        connect();
        pa_threaded_mainloop_unlock(loop_);
        if (pa_threaded_mainloop_start(loop_) < 0) {
            dropContext();
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
        }
    }

    ~Watcher() {
        if (!loop_) return;
        pa_threaded_mainloop_lock(loop_);
        closing_ = true;
        if (retry_) api_->time_free(retry_);
        retry_ = nullptr;
        dropContext();
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }

    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

  private:
    void connect() {
        context_ = pa_context_new(api_, "kx5-device-watch");
        if (!context_) {
            lost_ = true;
            return scheduleRetry();
        }
        pa_context_set_state_callback(context_, onState, this);
        pa_context_set_subscribe_callback(context_, onEvent, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            dropContext();
            lost_ = true;
            scheduleRetry();
        }
    }

    void dropContext() {
        if (!context_) return;
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }

    void scheduleRetry() {
        if (closing_ || retry_) return;
        struct timeval when;
        pa_gettimeofday(&when);
        pa_timeval_add(&when, kRetryUsec);
        retry_ = api_->time_new(api_, &when, onRetry, this);
    }

    static void onRetry(pa_mainloop_api* api, pa_time_event* e, const struct timeval*, void* self) {
        auto* w = static_cast<Watcher*>(self);
        api->time_free(e);
        w->retry_ = nullptr;
        if (w->closing_) return;
        w->dropContext();
        w->connect();
    }

    static void onState(pa_context* c, void* self) {
        auto* w = static_cast<Watcher*>(self);
        switch (pa_context_get_state(c)) {
        case PA_CONTEXT_READY: {
            const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                                  PA_SUBSCRIPTION_MASK_SOURCE);
            if (pa_operation* op = pa_context_subscribe(c, mask, nullptr, nullptr))
                pa_operation_unref(op);
            // A server that came back may offer other endpoints than before.
            if (w->lost_) w->onChange_();
            w->lost_ = false;
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            if (w->closing_) break;
            // Reconnect later; the context can't be released inside its own
            // callback, so that waits for the retry too.
            w->lost_ = true;
            w->scheduleRetry();
            break;
        default:
            break;
        }
    }

    static void onEvent(pa_context*, pa_subscription_event_type_t t, uint32_t, void* self) {
        const auto facility = t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto kind = t & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if ((facility == PA_SUBSCRIPTION_EVENT_SINK || facility == PA_SUBSCRIPTION_EVENT_SOURCE) &&
            (kind == PA_SUBSCRIPTION_EVENT_NEW || kind == PA_SUBSCRIPTION_EVENT_REMOVE))
            static_cast<Watcher*>(self)->onChange_();
    }

    std::function<void()> onChange_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_mainloop_api* api_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    bool closing_ = false;
    // The first connection never succeeded or the server went away.
    bool lost_ = false;
};

AudioDevice::AudioDevice() : watcher_(std::make_unique<Watcher>([this] { notify(); })) {}

AudioDevice::~AudioDevice() {
    watcher_.reset();
}

void AudioDevice::notify() {
    if (AudioDeviceDelegate* d = delegate_.load()) d->audioDevicesChanged();
}

} // namespace kx5
