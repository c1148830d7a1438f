#include "audio/units/audio_output_unit.h"

#include "audio/devices/audio_devices.h"
#include "audio/engines/pulse_playback.h"

#include <cstring>

namespace kx5 {

AudioOutputUnit::AudioOutputUnit() = default;

AudioOutputUnit::~AudioOutputUnit() {
    engine_.reset();
    closeState();
}

bool AudioOutputUnit::onOwnThread() const {
    const PulsePlayback* p = PulsePlayback::current();
    return p && p->owner() == this;
}

void AudioOutputUnit::closeState() {
    open_ = running_ = false;
    frames_ = 0;
    meter_.reset();
}

void AudioOutputUnit::start(const std::string& uid) {
    if (onOwnThread()) return;
    if (open_) {
        if (!running_) {
            engine_->setPaused(false);
            running_ = true;
        }
        return;
    }
    engine_.reset();
    closeState();
    PulsePlayback::Config config;
    config.device = findWaveDevice(AudioDirection::Render, uid);
    config.sampleRate = 44100;
    config.channels = 2;
    config.bufferBytes = kBufferBytes;
    config.bufferCount = kBufferCount;
    config.streamName = "player";
    config.owner = this;
    // Set before the stream exists: its first callback may already stop it.
    open_ = running_ = true;
    engine_ = PulsePlayback::open(
        config, [this](uint8_t* b, size_t n) { fillStep(b, n); }, [this] { failed(); });
    if (!engine_) closeState();
}

void AudioOutputUnit::pause() {
    if (onOwnThread()) return;
    if (open_ && running_) {
        engine_->setPaused(true);
        running_ = false;
    }
}

void AudioOutputUnit::stop() {
    if (onOwnThread()) {
        PulsePlayback::current()->detach();
        closeState();
        return;
    }
    engine_.reset();
    closeState();
}

float AudioOutputUnit::peakPower(int32_t channel) {
    if (channel > 1 || !running_) return -120.0f;
    return meter_.peakPower(channel);
}

float AudioOutputUnit::time() const {
    return static_cast<float>(frames_.load()) / 44100.0f;
}

int32_t AudioOutputUnit::status() const {
    if (!open_) return kStreamClosed;
    return running_ ? kStreamRunning : kStreamPaused;
}

void AudioOutputUnit::failed() {
    PulsePlayback::current()->detach();
    closeState();
    if (AudioOutputStreamDelegate* client = client_) client->outputFailed();
}

void AudioOutputUnit::fillStep(uint8_t* buffer, size_t bytes) {
    AudioOutputStreamDelegate* client = client_;
    size_t got = client ? client->fill(buffer, bytes) : 0;
    if (PulsePlayback::current()->detached()) return;
    if (got > bytes) got = bytes;
    std::memset(buffer + got, 0, bytes - got);
    const uint32_t frames = static_cast<uint32_t>(got / 4);
    float left = 0, right = 0;
    applyGain(reinterpret_cast<int16_t*>(buffer), frames, 2, volumeGain(volume_), left, right);
    meter_.push(static_cast<uint32_t>(bytes / 4), left, right);
    frames_ += frames;
}

} // namespace kx5
