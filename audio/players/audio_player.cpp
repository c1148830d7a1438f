#include "audio/players/audio_player.h"

#include "audio/engines/audio_file_reader.h"
#include "bridge/encoding.h"

#include <cstring>

namespace kx5 {

std::string pathFromFileUrl(const std::string& text) {
    static const std::string scheme = "file://";
    if (text.compare(0, scheme.size(), scheme) != 0) return text;
    std::string rest = text.substr(scheme.size());
    // "file://localhost/x" and "file:///x" both mean "/x".
    const size_t slash = rest.find('/');
    rest = slash == std::string::npos ? std::string() : rest.substr(slash);
    try {
        return percentDecode(rest);
    } catch (...) {
        return rest;
    }
}

AudioPlayer::AudioPlayer() = default;

AudioPlayer::~AudioPlayer() {
    if (stream_) {
        stream_->stop();
        if (stream_->client() == this) stream_->setClient(nullptr);
    }
}

void AudioPlayer::setWaveOutput(AudioOutputStream* stream) {
    if (!usingNetwork_) switchTo(stream);
    waveStream_ = stream;
}

void AudioPlayer::setNetworkOutput(AudioOutputStream* stream) {
    if (usingNetwork_) switchTo(stream);
    networkStream_ = stream;
}

void AudioPlayer::useNetworkOutput(bool network) {
    usingNetwork_ = network;
    switchTo(network ? networkStream_ : waveStream_);
}

void AudioPlayer::switchTo(AudioOutputStream* stream) {
    if (stream_) {
        stream_->stop();
        if (stream_->client() == this) stream_->setClient(nullptr);
    }
    stream_ = stream;
    if (stream_) stream_->setClient(this);
}

std::string AudioPlayer::device(const std::string* uid) {
    if (uid) {
        if (stream_) stream_->stop();
        rewindReader();
        timeOffset_ = 0;
        if (auto* d = delegate_.load()) d->playerStopped(file());
        uid_ = *uid;
    }
    return uid_;
}

void AudioPlayer::rewindReader() {
    if (reader_ && reader_->seek(0)) {
        pending_.clear();
        pendingRead_ = 0;
    }
}

bool AudioPlayer::open(const std::string& pathOrUrl) {
    const std::string path = pathFromFileUrl(pathOrUrl);
    if (stream_) stream_->stop();
    reader_.reset();
    pending_.clear();
    pendingRead_ = 0;
    {
        std::lock_guard lock(pathMutex_);
        path_.clear();
    }
    totalTime_ = 0;
    timeOffset_ = 0;
    if (!stream_) return false;
    const WaveFormat f = stream_->format();
    auto reader = AudioFileReader::open(path);
    if (!reader || f.bitsPerSample != 16 ||
        !reader->setOutput(f.channels, static_cast<int>(f.sampleRate), AV_SAMPLE_FMT_S16))
        return false;
    totalTime_ = static_cast<float>(reader->durationSeconds());
    reader_ = std::move(reader);
    std::lock_guard lock(pathMutex_);
    path_ = path;
    return true;
}

void AudioPlayer::play() {
    if (reader_ && stream_) stream_->start(uid_);
}

void AudioPlayer::pause() {
    if (stream_) stream_->pause();
}

void AudioPlayer::stop() {
    if (stream_) stream_->stop();
    rewindReader();
    timeOffset_ = 0;
    if (auto* d = delegate_.load()) d->playerStopped(file());
}

void AudioPlayer::locate(float seconds) {
    if (stream_) stream_->stop();
    if (!reader_) return;
    if (reader_->seek(seconds)) {
        pending_.clear();
        pendingRead_ = 0;
        timeOffset_ = seconds;
    }
}

float AudioPlayer::volume(const float* gain) {
    if (!stream_) return 0;
    if (gain && *gain >= 0 && *gain <= 1) stream_->setVolume(*gain);
    return stream_->volume();
}

std::string AudioPlayer::file() const {
    std::lock_guard lock(pathMutex_);
    return path_;
}

int32_t AudioPlayer::status() const {
    return stream_ ? stream_->status() : 0;
}

int32_t AudioPlayer::channels() const {
    return stream_ ? stream_->channels() : 0;
}

float AudioPlayer::peakPower(int32_t channel) const {
    if (!stream_ || channel < 0 || channel >= stream_->channels()) return -120.0f;
    return stream_->peakPower(channel);
}

float AudioPlayer::time() const {
    return (stream_ ? stream_->time() : 0.0f) + timeOffset_;
}

void AudioPlayer::stopAndRewind() {
    if (stream_) stream_->stop();
    rewindReader();
    timeOffset_ = 0;
    if (auto* d = delegate_.load()) d->playerStopped(file());
}

void AudioPlayer::outputFailed() {
    stopAndRewind();
    if (auto* d = delegate_.load()) d->playerError(file());
}

size_t AudioPlayer::fill(uint8_t* buffer, size_t bytes) {
    size_t copied = 0;
    AudioFileReader::Result last = AudioFileReader::Result::Data;
    while (copied < bytes) {
        if (pendingRead_ < pending_.size()) {
            const size_t n = std::min(bytes - copied, pending_.size() - pendingRead_);
            std::memcpy(buffer + copied, pending_.data() + pendingRead_, n);
            pendingRead_ += n;
            copied += n;
            continue;
        }
        if (!reader_) {
            last = AudioFileReader::Result::End;
            break;
        }
        pendingRead_ = 0;
        last = reader_->read(pending_);
        if (last != AudioFileReader::Result::Data) {
            pending_.clear();
            break;
        }
    }
    if (copied > 0) {
        std::memset(buffer + copied, 0, bytes - copied);
        return bytes;
    }
    stopAndRewind();
    if (auto* d = delegate_.load()) {
        if (last == AudioFileReader::Result::Error)
            d->playerError(file());
        else
            d->playerEndOfFile(file());
    }
    return 0;
}

} // namespace kx5
