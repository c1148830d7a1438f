#include "audition/audition_player.h"

#include "audio/engines/pulse_playback.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kx5 {

AuditionPlayer::AuditionPlayer(Ended ended, Lost lost)
    : ended_(std::move(ended)), lost_(std::move(lost)) {}

AuditionPlayer::~AuditionPlayer() {
    stop();
}

void AuditionPlayer::setTake(int which, Samples samples, uint32_t rate) {
    if (which < 0 || which >= kTakes) return;
    std::lock_guard lock(mutex_);
    if (rate != rate_) {
        for (auto& t : takes_)
            t.reset();
        rate_ = rate;
        playing_ = false;
    }
    takes_[which] = std::move(samples);
    if (which == current_ && playing_ && !takes_[which]) playing_ = false;
}

bool AuditionPlayer::hasTake(int which) const {
    std::lock_guard lock(mutex_);
    return which >= 0 && which < kTakes && takes_[which] && !takes_[which]->empty();
}

void AuditionPlayer::setGain(int which, double linear) {
    if (which < 0 || which >= kTakes || !std::isfinite(linear) || linear < 0) return;
    std::lock_guard lock(mutex_);
    gains_[which] = linear;
}

void AuditionPlayer::setLoop(bool loop) {
    std::lock_guard lock(mutex_);
    loop_ = loop;
}

void AuditionPlayer::setDevice(const std::string& sink) {
    std::unique_ptr<PulsePlayback> old;
    {
        std::lock_guard lock(mutex_);
        if (sink == device_) return;
        device_ = sink;
        playing_ = false;
        tail_ = 0;
        old = std::move(stream_);
    }
}

bool AuditionPlayer::play(int which) {
    if (!hasTake(which)) return false;
    std::unique_ptr<PulsePlayback> old;
    {
        std::lock_guard lock(mutex_);
        if (playing_ && stream_ && !stream_->detached() && !streamLost_ && streamRate_ == rate_) {
            if (which != current_) {
                fadingFrom_ = current_;
                fadeDone_ = 0;
                current_ = which;
            }
            return true;
        }
        current_ = which;
        fadingFrom_ = -1;
        position_ = 0;
        tail_ = 0;
        underruns_ = 0;
        underflowBase_ = stream_ ? stream_->underflows() : 0;
        if (stream_ && (stream_->detached() || streamLost_ || streamRate_ != rate_))
            old = std::move(stream_);
    }
    old.reset();
    uint32_t rate;
    std::string device;
    {
        std::lock_guard lock(mutex_);
        rate = rate_;
        device = device_;
        playing_ = true;
    }
    if (!stream_) {
        PulsePlayback::Config config;
        config.device = device;
        config.sampleRate = rate;
        config.channels = 2;
        config.bufferBytes = kBufferFrames * 4;
        config.bufferCount = kBufferCount;
        config.streamName = "audition";
        config.owner = this;
        auto stream = PulsePlayback::open(
            config, [this](uint8_t* b, size_t n) { fill(b, n); }, [this] { streamLost(); });
        std::lock_guard lock(mutex_);
        if (!stream) {
            playing_ = false;
            return false;
        }
        stream_ = std::move(stream);
        streamLost_ = false;
        streamRate_ = rate;
    }
    return true;
}

void AuditionPlayer::stop() {
    std::unique_ptr<PulsePlayback> old;
    {
        std::lock_guard lock(mutex_);
        playing_ = false;
        tail_ = 0;
        old = std::move(stream_);
    }
}

void AuditionPlayer::closeIfIdle() {
    std::unique_ptr<PulsePlayback> old;
    {
        std::lock_guard lock(mutex_);
        if (!playing_ && tail_ == 0) old = std::move(stream_);
    }
}

AuditionPlayer::Status AuditionPlayer::status() const {
    std::lock_guard lock(mutex_);
    Status s;
    s.playing = playing_;
    s.which = current_;
    s.underruns = underruns_;
    if (rate_) {
        s.position = double(position_) / rate_;
        if (takes_[current_]) s.length = double(takes_[current_]->size()) / rate_;
    }
    return s;
}

double AuditionPlayer::sampleAt(int take, size_t i) const {
    const Samples& t = takes_[take];
    return t && i < t->size() ? double((*t)[i]) * gains_[take] : 0.0;
}

// Stream thread: the stream stays until the UI thread lets go of it.
void AuditionPlayer::streamLost() {
    {
        std::lock_guard lock(mutex_);
        streamLost_ = true;
        playing_ = false;
        tail_ = 0;
    }
    if (lost_) lost_();
}

// Stream thread: 16-bit stereo frames, the same sample on both channels.
void AuditionPlayer::fill(uint8_t* buffer, size_t bytes) {
    const size_t frames = bytes / 4;
    auto* out = reinterpret_cast<int16_t*>(buffer);
    bool endedNow = false;
    {
        std::lock_guard lock(mutex_);
        if (const PulsePlayback* stream = PulsePlayback::current())
            underruns_ = stream->underflows() - underflowBase_;
        const size_t fadeFrames = std::max<size_t>(1, size_t(kCrossfadeSeconds * rate_));
        const size_t length = takes_[current_] ? takes_[current_]->size() : 0;
        for (size_t f = 0; f < frames; ++f) {
            double v = 0.0;
            if (playing_) {
                if (position_ >= length) {
                    if (loop_ && length > 0) {
                        position_ = 0;
                    } else {
                        // The end is heard once what the stream holds has
                        // played: silence that long follows it.
                        playing_ = false;
                        tail_ = kBufferFrames * (kBufferCount + 1);
                    }
                }
            }
            if (!playing_ && tail_ > 0 && --tail_ == 0) endedNow = true;
            if (playing_) {
                v = sampleAt(current_, position_);
                if (fadingFrom_ >= 0) {
                    const double t = double(fadeDone_) / double(fadeFrames);
                    v = v * t + sampleAt(fadingFrom_, position_) * (1.0 - t);
                    if (++fadeDone_ >= fadeFrames) fadingFrom_ = -1;
                }
                ++position_;
            }
            const auto s = int16_t(std::lround(std::clamp(v, -1.0, 32767.0 / 32768.0) * 32768.0));
            out[2 * f] = s;
            out[2 * f + 1] = s;
        }
    }
    if (endedNow && ended_) ended_();
}

} // namespace kx5
