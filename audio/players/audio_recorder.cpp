#include "audio/players/audio_recorder.h"

#include "audio/engines/audio_encoder_writer.h"
#include "audio/files/wave_chunk_file.h"

#include <algorithm>
#include <cctype>

namespace kx5 {
namespace {

enum class Container { None, Wave, Mpeg4, M4a };

Container containerFor(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return Container::None;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "wav" || ext == "wave") return Container::Wave;
    if (ext == "m4a") return Container::M4a;
    if (ext == "mp4") return Container::Mpeg4;
    return Container::None;
}

int64_t aacBitRate(int32_t format) {
    switch (format) {
    case 0:
        return 256000;
    case 1:
        return 192000;
    case 2:
        return 128000;
    case 3:
        return 64000;
    default:
        return 0;
    }
}

} // namespace

AudioRecorder::AudioRecorder() = default;

AudioRecorder::~AudioRecorder() {
    if (stream_) {
        stream_->stop(true);
        if (stream_->client() == this) stream_->setClient(nullptr);
    }
    closeWriter();
}

void AudioRecorder::setWaveInput(AudioInputStream* stream) {
    if (!usingNetwork_) switchTo(stream);
    waveStream_ = stream;
}

void AudioRecorder::setNetworkInput(AudioInputStream* stream) {
    if (usingNetwork_) switchTo(stream);
    networkStream_ = stream;
}

void AudioRecorder::useNetworkInput(bool network) {
    usingNetwork_ = network;
    switchTo(network ? networkStream_ : waveStream_);
}

void AudioRecorder::switchTo(AudioInputStream* stream) {
    if (stream_) {
        stream_->stop(true);
        if (stream_->client() == this) stream_->setClient(nullptr);
    }
    stream_ = stream;
    if (stream_) stream_->setClient(this);
}

std::string AudioRecorder::device(const std::string* uid) {
    if (uid) {
        stop();
        uid_ = *uid;
    }
    return uid_;
}

bool AudioRecorder::closeWriter() {
    std::lock_guard lock(writerMutex_);
    fileOpen_ = false;
    bool ok = true;
    if (wave_) ok = wave_->close();
    if (encoder_) ok = encoder_->finish();
    wave_.reset();
    encoder_.reset();
    return ok;
}

bool AudioRecorder::create(const std::string& path, int32_t format) {
    closeWriter();
    if (stream_) stream_->stop(true);
    {
        std::lock_guard lock(pathMutex_);
        path_.clear();
    }
    if (!stream_) return false;
    const Container container = containerFor(path);
    const WaveFormat in = stream_->format();
    if (in.tag != kWaveTagPcm || in.bitsPerSample != 16 || in.blockAlign == 0) return false;
    framesWritten_ = 0;
    if (format == kPcmFormat) {
        if (container != Container::Wave) return false;
        auto writer = std::make_unique<WaveChunkWriter>();
        if (!writer->create(path, in)) return false;
        std::lock_guard lock(writerMutex_);
        wave_ = std::move(writer);
    } else {
        const int64_t bitRate = aacBitRate(format);
        if (bitRate == 0 || (container != Container::M4a && container != Container::Mpeg4))
            return false;
        auto encoder = AudioEncoderWriter::create(
            path, container == Container::M4a ? "ipod" : "mp4", AudioEncoderWriter::Codec::Aac,
            in.channels, static_cast<int>(in.sampleRate), bitRate, AV_SAMPLE_FMT_S16);
        if (!encoder) return false;
        std::lock_guard lock(writerMutex_);
        encoder_ = std::move(encoder);
    }
    {
        std::lock_guard lock(writerMutex_);
        inputFormat_ = in;
        fileOpen_ = true;
    }
    std::lock_guard lock(pathMutex_);
    path_ = path;
    return true;
}

void AudioRecorder::record() {
    if (stream_) stream_->start(uid_);
}

void AudioRecorder::pause() {
    if (stream_) stream_->pause();
}

void AudioRecorder::stop() {
    if (stream_) stream_->stop(false);
    // A stream that was never started tells nothing; the file still has to
    // be finalised and reported.
    if (fileOpen_) stopped();
}

float AudioRecorder::volume(const float* gain) {
    if (!stream_) return 0;
    if (gain && *gain >= 0 && *gain <= 1) stream_->setVolume(*gain);
    return stream_->volume();
}

std::string AudioRecorder::file() const {
    std::lock_guard lock(pathMutex_);
    return path_;
}

int32_t AudioRecorder::status() const {
    return stream_ ? stream_->status() : 0;
}

int32_t AudioRecorder::channels() const {
    return stream_ ? stream_->channels() : 0;
}

float AudioRecorder::peakPower(int32_t channel) const {
    if (!stream_ || channel < 0 || channel >= stream_->channels()) return -120.0f;
    return stream_->peakPower(channel);
}

float AudioRecorder::time() const {
    return stream_ && fileOpen_ ? stream_->time() : 0.0f;
}

void AudioRecorder::data(const uint8_t* buffer, size_t bytes) {
    {
        std::lock_guard lock(writerMutex_);
        if (!fileOpen_) return;
        const size_t frames = bytes / inputFormat_.blockAlign;
        bool ok = true;
        if (wave_)
            ok = wave_->write(buffer, frames * inputFormat_.blockAlign);
        else if (encoder_)
            ok = encoder_->write(buffer, static_cast<int>(frames));
        if (ok) {
            framesWritten_ += frames;
            return;
        }
    }
    if (auto* d = delegate_.load()) d->recorderError(file());
    if (stream_) stream_->stop(true);
    stopped();
}

void AudioRecorder::stopped() {
    closeWriter();
    std::string path;
    {
        std::lock_guard lock(pathMutex_);
        path.swap(path_);
    }
    if (!path.empty())
        if (auto* d = delegate_.load()) d->recorderStopped(path);
}

} // namespace kx5
