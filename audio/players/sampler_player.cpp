#include "audio/players/sampler_player.h"

#include "audio/devices/audio_devices.h"
#include "audio/engines/audio_file_reader.h"
#include "audio/engines/pulse_playback.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace kx5 {

namespace {
constexpr float kFastFadeSeconds = 0.005f;
constexpr auto kFadeOutWait = std::chrono::milliseconds(40);
} // namespace

void rampSamples(int16_t* samples, size_t frames, int channels, float g0, float g1, float* sumLeft,
                 float* sumRight) {
    if (frames == 0) return;
    if (g0 == 0 && g1 == 0) {
        std::memset(samples, 0, frames * channels * sizeof(int16_t));
        return;
    }
    const float step = (g1 - g0) / static_cast<float>(frames);
    float g = g0;
    double left = 0, right = 0;
    for (size_t f = 0; f < frames; ++f) {
        int16_t* frame = samples + f * channels;
        for (int c = 0; c < channels; ++c) {
            const float v = frame[c] * g;
            frame[c] = static_cast<int16_t>(v);
            if (c == 0) left += static_cast<double>(v) * v;
            if (c == 1 || channels == 1) right += static_cast<double>(v) * v;
        }
        g += step;
    }
    if (sumLeft) *sumLeft += static_cast<float>(left);
    if (sumRight) *sumRight += static_cast<float>(right);
}

SamplerPlayer::SamplerPlayer(int32_t id, std::shared_ptr<SamplePlayerDelegate> delegate)
    : id_(id), delegate_(std::move(delegate)) {}

SamplerPlayer::~SamplerPlayer() {
    close();
}

std::string SamplerPlayer::device(const std::string* uid) {
    if (uid) {
        {
            std::lock_guard lock(mutex_);
            uid_ = *uid;
        }
        if (reader_ && !openDevice()) {
            {
                std::lock_guard lock(mutex_);
                uid_.clear();
            }
            openDevice();
        }
    }
    std::lock_guard lock(mutex_);
    return uid_;
}

bool SamplerPlayer::open(const std::string& path) {
    close();
    auto reader = AudioFileReader::open(path);
    if (!reader) return false;
    const int channels = std::min<int>(reader->sourceFormat().channels, 2);
    const int rate = static_cast<int>(reader->sourceFormat().sampleRate);
    if (channels <= 0 || rate <= 0 || !reader->setOutput(channels, rate, AV_SAMPLE_FMT_S16))
        return false;
    {
        std::lock_guard lock(mutex_);
        channels_ = channels;
        rate_ = static_cast<uint32_t>(rate);
        duration_ = static_cast<float>(reader->durationSeconds());
        path_ = path;
        reader_ = std::move(reader);
    }
    if (openDevice()) return true;
    close();
    return false;
}

bool SamplerPlayer::openDevice() {
    closeDevice();
    PulsePlayback::Config config;
    {
        std::lock_guard lock(mutex_);
        config.device = findWaveDevice(AudioDirection::Render, uid_);
        config.sampleRate = rate_;
        config.channels = static_cast<uint8_t>(channels_);
        config.bufferBytes = static_cast<size_t>(rate_) * kBufferMs / 1000 * channels_ * 2;
    }
    config.bufferCount = kBufferCount;
    config.streamName = "sampler-" + std::to_string(id_);
    config.owner = this;
    meter_.reset();
    meter_.setRate(rate_);
    engine_ = PulsePlayback::open(config, [this](uint8_t* b, size_t n) { serviceBuffer(b, n); });
    return engine_ != nullptr;
}

void SamplerPlayer::closeDevice() {
    engine_.reset();
    std::lock_guard lock(mutex_);
    playing_ = paused_ = false;
    transition_ = false;
    startPosition_ = position_ = beginPoint_;
    lastGain_ = 0;
    meter_.reset();
}

void SamplerPlayer::close() {
    closeDevice();
    std::lock_guard lock(mutex_);
    reader_.reset();
    pending_.clear();
    pendingRead_ = 0;
    duration_ = position_ = startPosition_ = 0;
    path_.clear();
}

void SamplerPlayer::play() {
    std::lock_guard lock(mutex_);
    if (playing_ && paused_) {
        paused_ = false;
        return;
    }
    repeatsRemaining_ = repeatCount_;
    transition_ = true;
}

void SamplerPlayer::pause() {
    std::lock_guard lock(mutex_);
    if (playing_ && !paused_) {
        paused_ = true;
        transition_ = true;
    }
}

void SamplerPlayer::stop(bool force) {
    std::lock_guard lock(mutex_);
    if (!playing_) return;
    if (paused_) {
        restAtBegin();
    } else if (fadeOutStart_ > 0) {
        fastStop_ = true;
    } else {
        // 0 means "no fade-out", so a stop before the first buffer counts one frame.
        fadeOutStart_ = std::max<uint32_t>(framesPlayed_, 1);
        fastStop_ = force;
    }
}

bool SamplerPlayer::locateWithin(float seconds, float lo) {
    bool wasPlaying;
    {
        std::lock_guard lock(mutex_);
        if (!reader_) return false;
        const float hi = std::max(lo, duration_ - endOffset_);
        seconds = std::clamp(std::isfinite(seconds) ? seconds : lo, lo, hi);
        wasPlaying = playing_ && !paused_;
        if (wasPlaying) {
            paused_ = true;
            transition_ = true;
        }
    }
    // Lets the stream's thread fade the old position out first.
    if (wasPlaying && engine_) std::this_thread::sleep_for(kFadeOutWait);
    std::lock_guard lock(mutex_);
    if (!reader_) return false;
    const bool moved = seekReader(seconds);
    if (moved) startPosition_ = position_ = seconds;
    if (wasPlaying) {
        if (playing_ && paused_) {
            paused_ = false;
        } else {
            repeatsRemaining_ = repeatCount_;
            transition_ = true;
        }
    }
    return moved;
}

void SamplerPlayer::locate(float seconds) {
    float lo;
    {
        std::lock_guard lock(mutex_);
        lo = beginPoint_;
    }
    locateWithin(seconds, lo);
}

float SamplerPlayer::begin(const float* seconds) {
    if (seconds && std::isfinite(*seconds)) {
        float limit;
        {
            std::lock_guard lock(mutex_);
            limit = duration_ - endOffset_;
        }
        const float t = std::max(0.0f, *seconds);
        if (t <= limit && locateWithin(t, 0.0f)) {
            std::lock_guard lock(mutex_);
            beginPoint_ = t;
        }
    }
    std::lock_guard lock(mutex_);
    return beginPoint_;
}

float SamplerPlayer::end(const float* seconds) {
    if (seconds && *seconds >= 0 && std::isfinite(*seconds)) {
        float begin, position, rangeEnd;
        {
            std::lock_guard lock(mutex_);
            endOffset_ = *seconds;
            begin = beginPoint_;
            position = position_;
            rangeEnd = duration_ - endOffset_;
        }
        const float zero = 0;
        if (begin > rangeEnd)
            this->begin(&zero);
        else if (position > rangeEnd)
            this->begin(&begin);
    }
    std::lock_guard lock(mutex_);
    return endOffset_;
}

float SamplerPlayer::volume(const float* gain) {
    std::lock_guard lock(mutex_);
    if (gain && *gain >= 0 && *gain <= 1) volume_ = *gain;
    return volume_;
}

int32_t SamplerPlayer::repeat(const int32_t* count) {
    std::lock_guard lock(mutex_);
    if (count && *count >= -1) repeatCount_ = repeatsRemaining_ = *count;
    return repeatCount_;
}

float SamplerPlayer::speed(const float* rate) {
    std::lock_guard lock(mutex_);
    if (rate && *rate >= 0.5f && *rate <= 2.0f) speed_ = *rate;
    return speed_;
}

float SamplerPlayer::pitch(const float* cents) {
    std::lock_guard lock(mutex_);
    if (cents && *cents >= -2400.0f && *cents <= 2400.0f) pitch_ = *cents;
    return pitch_;
}

float SamplerPlayer::fadeIn(const float* seconds) {
    std::lock_guard lock(mutex_);
    if (seconds && *seconds >= 0 && std::isfinite(*seconds)) fadeInTime_ = *seconds;
    return fadeInTime_;
}

float SamplerPlayer::fadeOut(const float* seconds) {
    std::lock_guard lock(mutex_);
    if (seconds && *seconds >= 0 && std::isfinite(*seconds)) fadeOutTime_ = *seconds;
    return fadeOutTime_;
}

std::string SamplerPlayer::file() const {
    std::lock_guard lock(mutex_);
    return path_;
}

float SamplerPlayer::totalTime() const {
    std::lock_guard lock(mutex_);
    return duration_;
}

float SamplerPlayer::time() const {
    std::lock_guard lock(mutex_);
    return position_;
}

SamplerPlayer::State SamplerPlayer::state() const {
    std::lock_guard lock(mutex_);
    if (!playing_) return kStopped;
    if (paused_) return kPaused;
    return fadeOutStart_ > 0 ? kStopping : kPlaying;
}

// ---- the stream's thread (all below runs with mutex_ held) ----

void SamplerPlayer::serviceBuffer(uint8_t* buffer, size_t bytes) {
    std::lock_guard lock(mutex_);
    const size_t blockAlign = static_cast<size_t>(channels_) * 2;
    const size_t filled = std::min(fill(buffer, bytes), bytes) / blockAlign * blockAlign;
    const size_t frames = filled / blockAlign;
    framesPlayed_ += static_cast<uint32_t>(frames);
    const float target = targetGain();
    float left = 0, right = 0;
    rampSamples(reinterpret_cast<int16_t*>(buffer), frames, channels_, lastGain_, target, &left,
                &right);
    lastGain_ = target;
    std::memset(buffer + filled, 0, bytes - filled);
    // A voice that came to rest in this buffer stays at its begin point.
    if (playing_) position_ += static_cast<float>(frames) * speed_ / static_cast<float>(rate_);
    meter_.push(static_cast<uint32_t>(bytes / blockAlign), left, right);
}

size_t SamplerPlayer::halfBuffer(size_t bytes) const {
    const size_t blockAlign = static_cast<size_t>(channels_) * 2;
    return bytes / 2 / blockAlign * blockAlign;
}

size_t SamplerPlayer::fill(uint8_t* buffer, size_t bytes) {
    const size_t blockAlign = static_cast<size_t>(channels_) * 2;
    size_t total = 0;
    bool faded = false;
    if (transition_) {
        transition_ = false;
        if (playing_) {
            const long n = readStep(buffer, halfBuffer(bytes));
            if (n <= 0) {
                stopAtEnd();
                return 0;
            }
            if (paused_) return static_cast<size_t>(n);
            rampSamples(reinterpret_cast<int16_t*>(buffer), n / blockAlign, channels_, 1, 0);
            total = static_cast<size_t>(n);
            faded = true;
        }
        // Only a start from the very top may begin at full level.
        startAtZero_ = !playing_ && startPosition_ == 0;
        if (seekReader(startPosition_)) position_ = startPosition_;
        playing_ = true;
        paused_ = false;
        framesPlayed_ = 0;
        fadeOutStart_ = 0;
        fastStop_ = false;
    } else if (endOffset_ > 0 && playing_ && !paused_ && position_ >= duration_ - endOffset_) {
        const long n = readStep(buffer, halfBuffer(bytes));
        if (n <= 0) {
            stopAtEnd();
            return 0;
        }
        if (repeatsRemaining_ == 0) {
            stopAtEnd();
            return static_cast<size_t>(n);
        }
        rampSamples(reinterpret_cast<int16_t*>(buffer), n / blockAlign, channels_, 1, 0);
        total = static_cast<size_t>(n);
        faded = true;
        if (repeatsRemaining_ > 0) --repeatsRemaining_;
        if (seekReader(beginPoint_)) position_ = beginPoint_;
    }
    if (!playing_ || paused_) return total;
    const long n = readStep(buffer + total, bytes - total);
    if (n > 0) {
        if (faded)
            rampSamples(reinterpret_cast<int16_t*>(buffer + total), n / blockAlign, channels_, 0,
                        1);
        return total + static_cast<size_t>(n);
    }
    stopAtEnd();
    return total;
}

long SamplerPlayer::readStep(uint8_t* dst, size_t want) {
    size_t copied = 0;
    bool dataSinceJump = true;
    while (copied < want) {
        if (pendingRead_ < pending_.size()) {
            const size_t n = std::min(want - copied, pending_.size() - pendingRead_);
            std::memcpy(dst + copied, pending_.data() + pendingRead_, n);
            pendingRead_ += n;
            copied += n;
            dataSinceJump = true;
            continue;
        }
        if (!reader_) break;
        pendingRead_ = 0;
        const auto r = reader_->read(pending_);
        if (r == AudioFileReader::Result::Data) continue;
        pending_.clear();
        if (r == AudioFileReader::Result::Error) return copied > 0 ? static_cast<long>(copied) : -1;
        // End of the file: loop while repeats are left, unless the range
        // gave nothing since the last jump (it would loop for ever).
        if (repeatsRemaining_ == 0 || !dataSinceJump) break;
        if (repeatsRemaining_ > 0) --repeatsRemaining_;
        if (!seekReader(beginPoint_)) break;
        position_ = beginPoint_;
        dataSinceJump = false;
    }
    return static_cast<long>(copied);
}

bool SamplerPlayer::seekReader(float seconds) {
    if (!reader_ || !reader_->seek(seconds)) return false;
    pending_.clear();
    pendingRead_ = 0;
    return true;
}

void SamplerPlayer::restAtBegin() {
    playing_ = paused_ = false;
    startPosition_ = position_ = beginPoint_;
}

void SamplerPlayer::stopAtEnd() {
    restAtBegin();
    if (delegate_) delegate_->samplerEndOfFile(id_, path_);
}

float SamplerPlayer::targetGain() {
    if (!playing_ || paused_) return 0;
    float base = volume_;
    const float fadeInFrames = static_cast<float>(rate_) * fadeInTime_;
    if (fadeOutStart_ > 0) {
        const float d = (fastStop_ || fadeOutTime_ == 0) ? kFastFadeSeconds : fadeOutTime_;
        const float length = static_cast<float>(rate_) * d;
        const float s = static_cast<float>(fadeOutStart_);
        base *= (s + length - static_cast<float>(framesPlayed_)) / length;
        if (fadeInFrames > s) base *= s / fadeInFrames;
        if (static_cast<float>(framesPlayed_) >= s + length) {
            restAtBegin();
            fadeOutStart_ = 0;
        }
    } else if (fadeInFrames > static_cast<float>(framesPlayed_)) {
        base *= static_cast<float>(framesPlayed_) / fadeInFrames;
    } else if (startAtZero_) {
        lastGain_ = volumeGain(base);
    }
    return volumeGain(base);
}

} // namespace kx5
