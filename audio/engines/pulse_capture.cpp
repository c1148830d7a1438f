#include "audio/engines/pulse_capture.h"

#include <pulse/pulseaudio.h>

#include <cstring>

namespace kx5 {
namespace {

thread_local PulseCapture* runningCapture = nullptr;

struct CurrentScope {
    explicit CurrentScope(PulseCapture* c) : previous(runningCapture) { runningCapture = c; }
    ~CurrentScope() { runningCapture = previous; }
    PulseCapture* previous;
};

} // namespace

PulseCapture* PulseCapture::current() {
    return runningCapture;
}

std::unique_ptr<PulseCapture> PulseCapture::open(const Config& config, Data data) {
    if (config.channels == 0 || config.sampleRate == 0 || config.bufferBytes == 0) return nullptr;
    std::unique_ptr<PulseCapture> c(new PulseCapture);
    c->config_ = config;
    c->data_ = std::move(data);
    c->pending_.reserve(config.bufferBytes * 2);
    c->connection_ = PulseConnection::connect("kx5-" + config.streamName);
    if (!c->connection_) return nullptr;

    PulseConnection::Lock lock(*c->connection_);
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, config.sampleRate, config.channels};
    c->stream_ =
        pa_stream_new(c->connection_->context(), config.streamName.c_str(), &sampleFormat, nullptr);
    if (!c->stream_) return nullptr;
    pa_stream_set_state_callback(c->stream_, onState, c.get());
    pa_stream_set_read_callback(c->stream_, onRead, c.get());
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(config.bufferBytes);
    const char* device = config.device.empty() ? nullptr : config.device.c_str();
    if (pa_stream_connect_record(c->stream_, device, &attr, PA_STREAM_ADJUST_LATENCY) < 0)
        return nullptr;
    pa_stream* s = c->stream_;
    const bool settled = c->connection_->waitFor(
        [s] {
            const auto st = pa_stream_get_state(s);
            return st == PA_STREAM_READY || !PA_STREAM_IS_GOOD(st);
        },
        3000);
    if (!settled || pa_stream_get_state(s) != PA_STREAM_READY) return nullptr;
    return c;
}

PulseCapture::~PulseCapture() {
    if (!connection_) return;
    {
        PulseConnection::Lock lock(*connection_);
        if (stream_) {
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
    }
    connection_.reset();
}

void PulseCapture::setPaused(bool paused) {
    PulseConnection::Lock lock(*connection_);
    if (detached_ || !stream_) return;
    if (pa_operation* op = pa_stream_cork(stream_, paused ? 1 : 0, nullptr, nullptr))
        pa_operation_unref(op);
}

void PulseCapture::detach() {
    detached_ = true;
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr)) pa_operation_unref(op);
}

void PulseCapture::onState(pa_stream*, void* self) {
    static_cast<PulseCapture*>(self)->connection_->signal();
}

void PulseCapture::onRead(pa_stream* stream, size_t, void* self) {
    auto* c = static_cast<PulseCapture*>(self);
    CurrentScope scope(c);
    const size_t size = c->config_.bufferBytes;
    while (!c->detached_ && pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
        const size_t at = c->pending_.size();
        c->pending_.resize(at + bytes);
        // A hole in the recording reads as silence.
        if (data)
            std::memcpy(c->pending_.data() + at, data, bytes);
        else
            std::memset(c->pending_.data() + at, 0, bytes);
        pa_stream_drop(stream);
        size_t used = 0;
        while (!c->detached_ && c->pending_.size() - used >= size) {
            c->data_(c->pending_.data() + used, size);
            used += size;
        }
        c->pending_.erase(c->pending_.begin(), c->pending_.begin() + static_cast<long>(used));
    }
}

} // namespace kx5
