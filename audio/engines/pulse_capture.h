// A PulseAudio record stream that hands fixed-size buffers to a callback on
// its own thread.
#pragma once

#include "audio/engines/pulse_connection.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kx5 {

class PulseCapture {
  public:
    struct Config {
        std::string device; // source name; empty = the server's default
        uint32_t sampleRate = 44100;
        uint8_t channels = 2;
        size_t bufferBytes = 4096;
        std::string streamName = "capture";
        const void* owner = nullptr;
    };
    // One whole buffer of 16-bit samples, writable in place.
    using Data = std::function<void(uint8_t* buffer, size_t bytes)>;

    static std::unique_ptr<PulseCapture> open(const Config& config, Data data);
    // Stops and waits for the stream's thread; never call it from a callback.
    ~PulseCapture();
    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    void setPaused(bool paused);
    // From inside the callback: hands over nothing more.
    void detach();
    bool detached() const { return detached_; }
    const void* owner() const { return config_.owner; }

    static PulseCapture* current();

  private:
    PulseCapture() = default;
    static void onRead(pa_stream* stream, size_t bytes, void* self);
    static void onState(pa_stream* stream, void* self);

    Config config_;
    Data data_;
    std::unique_ptr<PulseConnection> connection_;
    pa_stream* stream_ = nullptr;
    std::vector<uint8_t> pending_;
    bool detached_ = false;
};

} // namespace kx5
