// The stream interfaces the player, recorder and sampler work against: the
// wave units implement them, and so can network streams.
#pragma once

#include "audio/interface/wave_format.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx5 {

// Supplies samples to an output stream (called on the stream's thread).
class AudioOutputStreamDelegate {
  public:
    virtual ~AudioOutputStreamDelegate() = default;
    // Writes up to bytes into buffer; answers how many were written.
    virtual size_t fill(uint8_t* buffer, size_t bytes) = 0;
    // The stream broke while open (its audio server went away); it is
    // closed by then. Called on the stream's thread, like fill.
    virtual void outputFailed() {}
};

// Receives samples from an input stream (called on the stream's thread).
class AudioInputStreamDelegate {
  public:
    virtual ~AudioInputStreamDelegate() = default;
    virtual void data(const uint8_t* buffer, size_t bytes) = 0;
    // The stream stopped without the silent flag.
    virtual void stopped() = 0;
};

// Status values shared by both directions.
enum AudioStreamStatus : int32_t { kStreamClosed = 0, kStreamRunning = 1, kStreamPaused = 2 };

class AudioOutputStream {
  public:
    virtual ~AudioOutputStream() = default;
    virtual AudioOutputStreamDelegate* client() const = 0;
    virtual void setClient(AudioOutputStreamDelegate* client) = 0;
    virtual WaveFormat format() const = 0;
    // Opens (or resumes) on the endpoint uid; an empty uid is the default.
    virtual void start(const std::string& uid) = 0;
    virtual void pause() = 0;
    // May be called from the client's fill; then it does not wait.
    virtual void stop() = 0;
    virtual float volume() const = 0;
    virtual void setVolume(float volume) = 0;
    virtual int32_t channels() const = 0;
    virtual float peakPower(int32_t channel) = 0;
    virtual float time() const = 0;
    virtual int32_t status() const = 0;
};

class AudioInputStream {
  public:
    virtual ~AudioInputStream() = default;
    virtual AudioInputStreamDelegate* client() const = 0;
    virtual void setClient(AudioInputStreamDelegate* client) = 0;
    virtual WaveFormat format() const = 0;
    virtual void start(const std::string& uid) = 0;
    virtual void pause() = 0;
    // Unless silent, the client hears stopped() (when the stream was open).
    // May be called from the client's data callback; then it does not wait.
    virtual void stop(bool silent) = 0;
    virtual float volume() const = 0;
    virtual void setVolume(float volume) = 0;
    virtual int32_t channels() const = 0;
    virtual float peakPower(int32_t channel) = 0;
    virtual float time() const = 0;
    virtual int32_t status() const = 0;
};

} // namespace kx5
