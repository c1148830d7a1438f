#include "audio/engines/pulse_playback.h"

#include <pulse/pulseaudio.h>

namespace kx5 {
namespace {

thread_local PulsePlayback* runningPlayback = nullptr;

struct CurrentScope {
    explicit CurrentScope(PulsePlayback* p) : previous(runningPlayback) { runningPlayback = p; }
    ~CurrentScope() { runningPlayback = previous; }
    PulsePlayback* previous;
};

} // namespace

PulsePlayback* PulsePlayback::current() {
    return runningPlayback;
}

std::unique_ptr<PulsePlayback> PulsePlayback::open(const Config& config, Fill fill, Failed failed) {
    if (config.channels == 0 || config.sampleRate == 0 || config.bufferBytes == 0) return nullptr;
    std::unique_ptr<PulsePlayback> p(new PulsePlayback);
    p->config_ = config;
    p->fill_ = std::move(fill);
    p->failed_ = std::move(failed);
    p->buffer_.resize(config.bufferBytes);
    p->connection_ = PulseConnection::connect("kx5-" + config.streamName);
    if (!p->connection_) return nullptr;

    PulseConnection::Lock lock(*p->connection_);
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, config.sampleRate, config.channels};
    p->stream_ =
        pa_stream_new(p->connection_->context(), config.streamName.c_str(), &sampleFormat, nullptr);
    if (!p->stream_) return nullptr;
    pa_stream_set_state_callback(p->stream_, onState, p.get());
    pa_stream_set_write_callback(p->stream_, onWrite, p.get());
    pa_stream_set_underflow_callback(p->stream_, onUnderflow, p.get());
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(config.bufferBytes * config.bufferCount);
    // Playback starts with the first whole buffer; the server may choose a
    // smaller target than asked for, which a prebuffer of the whole target
    // would then never reach.
    attr.prebuf = static_cast<uint32_t>(config.bufferBytes);
    attr.minreq = static_cast<uint32_t>(config.bufferBytes);
    attr.fragsize = static_cast<uint32_t>(-1);
    const char* device = config.device.empty() ? nullptr : config.device.c_str();
    if (pa_stream_connect_playback(p->stream_, device, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                   nullptr) < 0)
        return nullptr;
    pa_stream* s = p->stream_;
    const bool settled = p->connection_->waitFor(
        [s] {
            const auto st = pa_stream_get_state(s);
            return st == PA_STREAM_READY || !PA_STREAM_IS_GOOD(st);
        },
        3000);
    if (!settled || pa_stream_get_state(s) != PA_STREAM_READY) return nullptr;
    p->ready_ = true;
    return p;
}

PulsePlayback::~PulsePlayback() {
    if (!connection_) return;
    {
        PulseConnection::Lock lock(*connection_);
        if (stream_) {
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
    }
    connection_.reset();
}

void PulsePlayback::setPaused(bool paused) {
    PulseConnection::Lock lock(*connection_);
    if (detached_ || !stream_) return;
    if (pa_operation* op = pa_stream_cork(stream_, paused ? 1 : 0, nullptr, nullptr))
        pa_operation_unref(op);
}

void PulsePlayback::detach() {
    detached_ = true;
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    if (pa_operation* op = pa_stream_flush(stream_, nullptr, nullptr)) pa_operation_unref(op);
    if (pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr)) pa_operation_unref(op);
}

void PulsePlayback::onState(pa_stream* stream, void* self) {
    auto* p = static_cast<PulsePlayback*>(self);
    p->connection_->signal();
    // Reported once, and only for a stream its owner already holds: a failed
    // open is answered by open() itself.
    if (!p->ready_ || p->detached_ || PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) return;
    p->ready_ = false;
    if (p->failed_) {
        CurrentScope scope(p);
        p->failed_();
    }
}

void PulsePlayback::onUnderflow(pa_stream*, void* self) {
    static_cast<PulsePlayback*>(self)->underflows_.fetch_add(1, std::memory_order_relaxed);
}

void PulsePlayback::onWrite(pa_stream* stream, size_t, void* self) {
    auto* p = static_cast<PulsePlayback*>(self);
    CurrentScope scope(p);
    const size_t size = p->config_.bufferBytes;
    while (!p->detached_) {
        const size_t writable = pa_stream_writable_size(stream);
        if (writable == static_cast<size_t>(-1) || writable < size) break;
        p->fill_(p->buffer_.data(), size);
        if (p->detached_) break;
        if (pa_stream_write(stream, p->buffer_.data(), size, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            break;
    }
}

} // namespace kx5
