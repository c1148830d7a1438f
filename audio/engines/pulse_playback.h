// A PulseAudio playback stream that asks a callback for fixed-size buffers on
// its own thread, keeping a given number of buffers queued.
#pragma once

#include "audio/engines/pulse_connection.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kx5 {

class PulsePlayback {
  public:
    struct Config {
        std::string device; // sink name; empty = the server's default
        uint32_t sampleRate = 44100;
        uint8_t channels = 2;
        size_t bufferBytes = 4096;
        int bufferCount = 4;
        std::string streamName = "playback";
        const void* owner = nullptr; // lets the owner recognise its own callbacks
    };
    // Fills one whole buffer (16-bit samples).
    using Fill = std::function<void(uint8_t* buffer, size_t bytes)>;
    // The stream failed after it was open (the server went away, the sink
    // was removed). Runs on the stream's thread, like fill; current() is
    // this stream there.
    using Failed = std::function<void()>;

    // nullptr when the server or the sink can't be reached. The callback may
    // start running before this returns.
    static std::unique_ptr<PulsePlayback> open(const Config& config, Fill fill, Failed failed = {});
    // Stops and waits for the stream's thread; never call it from a callback.
    ~PulsePlayback();
    PulsePlayback(const PulsePlayback&) = delete;
    PulsePlayback& operator=(const PulsePlayback&) = delete;

    void setPaused(bool paused);
    // From inside the callback: drops what is queued and asks for nothing
    // more. The object stays until its owner destroys it from another thread.
    void detach();
    bool detached() const { return detached_; }
    const void* owner() const { return config_.owner; }

    // How often the server ran out of queued sound (and played silence
    // until the stream caught up).
    unsigned underflows() const { return underflows_.load(std::memory_order_relaxed); }

    // The stream whose callback runs on the calling thread, if any.
    static PulsePlayback* current();

  private:
    PulsePlayback() = default;
    static void onWrite(pa_stream* stream, size_t bytes, void* self);
    static void onState(pa_stream* stream, void* self);
    static void onUnderflow(pa_stream* stream, void* self);

    Config config_;
    Fill fill_;
    Failed failed_;
    std::unique_ptr<PulseConnection> connection_;
    pa_stream* stream_ = nullptr;
    std::vector<uint8_t> buffer_;
    bool detached_ = false;
    std::atomic<unsigned> underflows_{0};
    bool ready_ = false; // open() saw the stream ready (set with the lock held)
};

} // namespace kx5
