#include "audio/units/audio_input_unit.h"

#include "audio/devices/audio_devices.h"
#include "audio/engines/pulse_capture.h"

namespace kx5 {

AudioInputUnit::AudioInputUnit() = default;

AudioInputUnit::~AudioInputUnit() {
    engine_.reset();
    closeState();
}

bool AudioInputUnit::onOwnThread() const {
    const PulseCapture* c = PulseCapture::current();
    return c && c->owner() == this;
}

void AudioInputUnit::closeState() {
    open_ = running_ = false;
    frames_ = 0;
    meter_.reset();
}

void AudioInputUnit::start(const std::string& uid) {
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
    PulseCapture::Config config;
    config.device = findWaveDevice(AudioDirection::Capture, uid);
    config.sampleRate = 44100;
    config.channels = 2;
    config.bufferBytes = kBufferBytes;
    config.streamName = "recorder";
    config.owner = this;
    open_ = running_ = true;
    engine_ = PulseCapture::open(config, [this](uint8_t* b, size_t n) { dataStep(b, n); });
    if (!engine_) closeState();
}

void AudioInputUnit::pause() {
    if (onOwnThread()) return;
    if (open_ && running_) {
        engine_->setPaused(true);
        running_ = false;
    }
}

void AudioInputUnit::stop(bool silent) {
    const bool wasOpen = open_;
    if (onOwnThread()) {
        PulseCapture::current()->detach();
    } else {
        engine_.reset();
    }
    closeState();
    if (wasOpen && !silent)
        if (AudioInputStreamDelegate* c = client_) c->stopped();
}

float AudioInputUnit::peakPower(int32_t channel) {
    if (channel > 1 || !running_) return -120.0f;
    return meter_.peakPower(channel);
}

float AudioInputUnit::time() const {
    return static_cast<float>(frames_.load()) / 44100.0f;
}

int32_t AudioInputUnit::status() const {
    if (!open_) return kStreamClosed;
    return running_ ? kStreamRunning : kStreamPaused;
}

void AudioInputUnit::dataStep(uint8_t* buffer, size_t bytes) {
    const uint32_t frames = static_cast<uint32_t>(bytes / 4);
    float left = 0, right = 0;
    applyGain(reinterpret_cast<int16_t*>(buffer), frames, 2, volumeGain(volume_), left, right);
    meter_.push(frames, left, right);
    frames_ += frames;
    if (AudioInputStreamDelegate* c = client_) c->data(buffer, bytes);
}

} // namespace kx5
