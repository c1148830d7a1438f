#include "audio/engines/audio_file_reader.h"

#include "audio/files/wave_chunk_file.h"
#include "bridge/unique_fd.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>

namespace kx5 {
namespace ff {

void quietLogging() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

} // namespace ff

namespace {

bool isPcmInteger(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S8:
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S24BE:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_S32BE:
    case AV_CODEC_ID_PCM_U16LE:
    case AV_CODEC_ID_PCM_U16BE:
    case AV_CODEC_ID_PCM_U24LE:
    case AV_CODEC_ID_PCM_U32LE:
    case AV_CODEC_ID_PCM_S64LE:
        return true;
    default:
        return false;
    }
}

bool isPcmFloat(AVCodecID id) {
    return id == AV_CODEC_ID_PCM_F32LE || id == AV_CODEC_ID_PCM_F32BE ||
           id == AV_CODEC_ID_PCM_F64LE || id == AV_CODEC_ID_PCM_F64BE;
}

constexpr int kInputBufferSize = 64 * 1024;

int readInput(void* opaque, uint8_t* buffer, int size) {
    const int fd = *static_cast<int*>(opaque);
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size_t(size));
        if (n > 0) return int(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EINTR) return AVERROR(errno);
    }
}

int64_t seekInput(void* opaque, int64_t offset, int whence) {
    const int fd = *static_cast<int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return fstat(fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

} // namespace

struct AudioFileReader::FileInput {
    ~FileInput() {
        if (!io) return;
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
    UniqueFd fd;
    int rawFd = -1; // what the callbacks read from
    AVIOContext* io = nullptr;
};

uint16_t waveTagForCodec(AVCodecID id, uint32_t storedTag) {
    if (isPcmInteger(id)) return kWaveTagPcm;
    if (isPcmFloat(id)) return kWaveTagFloat;
    if (id == AV_CODEC_ID_MP3) return kWaveTagMp3;
    if (id == AV_CODEC_ID_AAC) return kWaveTagAac;
    if (storedTag != 0 && storedTag <= 0xFFFF) return static_cast<uint16_t>(storedTag);
    const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
    return static_cast<uint16_t>(av_codec_get_tag(tables, id));
}

AudioFileReader::~AudioFileReader() = default;

std::unique_ptr<AudioFileReader> AudioFileReader::open(const std::string& path) {
    ff::quietLogging();
    std::unique_ptr<AudioFileReader> r(new AudioFileReader);
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (!fd || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags >= 0) fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    r->input_ = std::make_unique<FileInput>();
    FileInput& input = *r->input_;
    input.rawFd = fd.get();
    input.fd = std::move(fd);
    auto* buffer = static_cast<uint8_t*>(av_malloc(kInputBufferSize));
    if (!buffer) return nullptr;
    input.io = avio_alloc_context(buffer, kInputBufferSize, 0, &input.rawFd, readInput, nullptr,
                                  seekInput);
    if (!input.io) {
        av_free(buffer);
        return nullptr;
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return nullptr;
    raw->pb = input.io;
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The path still names the file, so its extension helps the probe.
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    r->format_.reset(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) return nullptr;
    const AVCodec* codec = nullptr;
    r->stream_ = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (r->stream_ < 0 || !codec) return nullptr;
    for (unsigned i = 0; i < raw->nb_streams; ++i)
        if (static_cast<int>(i) != r->stream_) raw->streams[i]->discard = AVDISCARD_ALL;
    const AVStream* st = raw->streams[r->stream_];
    const AVCodecParameters* par = st->codecpar;

    r->decoder_.reset(avcodec_alloc_context3(codec));
    if (!r->decoder_ || avcodec_parameters_to_context(r->decoder_.get(), par) < 0 ||
        avcodec_open2(r->decoder_.get(), codec, nullptr) < 0)
        return nullptr;
    if (r->decoder_->ch_layout.nb_channels <= 0 || r->decoder_->sample_rate <= 0) return nullptr;

    r->isWave_ = std::strcmp(raw->iformat->name, "wav") == 0;
    WaveChunkReader wave;
    if (r->isWave_ && wave.open(path)) {
        r->source_ = wave.format();
    } else {
        WaveFormat& f = r->source_;
        f.tag = waveTagForCodec(par->codec_id, par->codec_tag);
        f.channels = static_cast<uint16_t>(par->ch_layout.nb_channels);
        f.sampleRate = static_cast<uint32_t>(par->sample_rate);
        if (f.tag == kWaveTagPcm || f.tag == kWaveTagFloat) {
            int bits = par->bits_per_coded_sample;
            if (bits <= 0) bits = av_get_bits_per_sample(par->codec_id);
            f.bitsPerSample = static_cast<uint16_t>(bits);
            f.blockAlign = static_cast<uint16_t>(bits / 8 * f.channels);
            f.avgBytesPerSec = f.blockAlign * f.sampleRate;
        } else {
            f.bitsPerSample = f.tag == kWaveTagAac
                                  ? 16
                                  : static_cast<uint16_t>(std::max(0, par->bits_per_coded_sample));
            f.blockAlign = static_cast<uint16_t>(std::max(0, par->block_align));
            int64_t bitRate = par->bit_rate > 0 ? par->bit_rate : raw->bit_rate;
            f.avgBytesPerSec = static_cast<uint32_t>(std::max<int64_t>(0, bitRate / 8));
        }
    }
    if (raw->duration != AV_NOPTS_VALUE && raw->duration > 0)
        r->duration_ = static_cast<double>(raw->duration) / AV_TIME_BASE;
    else if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        r->duration_ = static_cast<double>(st->duration) * av_q2d(st->time_base);

    r->frame_.reset(av_frame_alloc());
    r->packet_.reset(av_packet_alloc());
    if (!r->frame_ || !r->packet_) return nullptr;
    return r;
}

const char* AudioFileReader::containerName() const {
    return format_->iformat->name;
}

AVCodecID AudioFileReader::codecId() const {
    return format_->streams[stream_]->codecpar->codec_id;
}

AVSampleFormat AudioFileReader::decodedFormat() const {
    return decoder_->sample_fmt;
}

int AudioFileReader::storedBits() const {
    const AVCodecParameters* par = format_->streams[stream_]->codecpar;
    if (par->bits_per_raw_sample > 0) return par->bits_per_raw_sample;
    if (par->bits_per_coded_sample > 0) return par->bits_per_coded_sample;
    return av_get_bits_per_sample(par->codec_id);
}

int64_t AudioFileReader::lengthFrames() const {
    const AVStream* st = format_->streams[stream_];
    if (st->duration == AV_NOPTS_VALUE || st->duration <= 0) return -1;
    return av_rescale_q(st->duration, st->time_base, AVRational{1, decoder_->sample_rate});
}

bool AudioFileReader::setOutput(int channels, int sampleRate, AVSampleFormat sampleFormat) {
    if (channels <= 0 || channels > 64 || sampleRate <= 0) return false;
    AVChannelLayout in{}, out{};
    const AVCodecContext* dec = decoder_.get();
    if (dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, dec->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in, &dec->ch_layout) < 0)
        return false;
    av_channel_layout_default(&out, channels);
    SwrContext* raw = nullptr;
    int rc = swr_alloc_set_opts2(&raw, &out, sampleFormat, sampleRate, &in, dec->sample_fmt,
                                 dec->sample_rate, 0, nullptr);
    ff::Resampler swr(raw);
    const int inChannels = in.nb_channels;
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (rc < 0) return false;
    if (inChannels == 1 && channels == 2) {
        const double matrix[2] = {1.0, 1.0};
        if (swr_set_matrix(swr.get(), matrix, 1) < 0) return false;
    }
    if (swr_init(swr.get()) < 0) return false;
    resampler_ = std::move(swr);
    outChannels_ = channels;
    outRate_ = sampleRate;
    outFormat_ = sampleFormat;
    blockAlign_ = av_get_bytes_per_sample(sampleFormat) * channels;
    resamplerDrained_ = false;
    return true;
}

bool AudioFileReader::convert(const AVFrame* frame, std::vector<uint8_t>& out) {
    const int room = swr_get_out_samples(resampler_.get(), frame ? frame->nb_samples : 0);
    if (room < 0) return false;
    out.resize(static_cast<size_t>(room) * blockAlign_ + blockAlign_);
    uint8_t* dst = out.data();
    const int n = swr_convert(resampler_.get(), &dst, room + 1,
                              frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                              frame ? frame->nb_samples : 0);
    if (n < 0) return false;
    size_t bytes = static_cast<size_t>(n) * blockAlign_;
    size_t skip = 0;
    if (dropFrames_ > 0) {
        const int64_t drop = std::min<int64_t>(dropFrames_, n);
        dropFrames_ -= drop;
        skip = static_cast<size_t>(drop) * blockAlign_;
    }
    if (skip > 0) std::memmove(out.data(), out.data() + skip, bytes - skip);
    out.resize(bytes - skip);
    return true;
}

AudioFileReader::Result AudioFileReader::read(std::vector<uint8_t>& out) {
    if (!resampler_) return Result::Error;
    AVCodecContext* dec = decoder_.get();
    int invalid = 0;
    for (;;) {
        int rc = avcodec_receive_frame(dec, frame_.get());
        if (rc == 0) {
            if (seekTarget_ >= 0) {
                // The first frame after a seek tells how far before the target
                // the demuxer landed.
                const int64_t pts = frame_->best_effort_timestamp;
                const AVStream* st = format_->streams[stream_];
                if (pts != AV_NOPTS_VALUE) {
                    const int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
                    const double t = static_cast<double>(pts - start) * av_q2d(st->time_base);
                    dropFrames_ = std::max<int64_t>(0, std::llround((seekTarget_ - t) * outRate_));
                }
                seekTarget_ = -1;
            }
            const bool ok = convert(frame_.get(), out);
            av_frame_unref(frame_.get());
            if (!ok) return Result::Error;
            if (!out.empty()) return Result::Data;
            continue;
        }
        if (rc == AVERROR_EOF) {
            if (!resamplerDrained_) {
                resamplerDrained_ = true;
                if (!convert(nullptr, out)) return Result::Error;
                if (!out.empty()) return Result::Data;
            }
            return Result::End;
        }
        if (rc == AVERROR_INVALIDDATA && ++invalid < 64) continue;
        if (rc != AVERROR(EAGAIN)) return Result::Error;
        if (inputEnded_) return Result::End;
        rc = av_read_frame(format_.get(), packet_.get());
        if (rc == AVERROR_EOF) {
            inputEnded_ = true;
            if (avcodec_send_packet(dec, nullptr) < 0) return Result::End;
            continue;
        }
        if (rc < 0) return Result::Error;
        if (packet_->stream_index != stream_) {
            av_packet_unref(packet_.get());
            continue;
        }
        rc = avcodec_send_packet(dec, packet_.get());
        av_packet_unref(packet_.get());
        // A damaged packet is skipped; the decoder resynchronises on the next.
        if (rc < 0 && rc != AVERROR(EAGAIN)) {
            if (rc != AVERROR_INVALIDDATA || ++invalid >= 64) return Result::Error;
        }
    }
}

bool AudioFileReader::seek(double seconds) {
    if (!std::isfinite(seconds)) return false;
    if (seconds < 0) seconds = 0;
    const AVStream* st = format_->streams[stream_];
    const int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    const int64_t ts = start + static_cast<int64_t>(seconds / av_q2d(st->time_base));
    if (av_seek_frame(format_.get(), stream_, ts, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(format_.get(), stream_, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
        return false;
    avcodec_flush_buffers(decoder_.get());
    inputEnded_ = false;
    resamplerDrained_ = false;
    if (resampler_ && swr_init(resampler_.get()) < 0) return false;
    seekTarget_ = seconds;
    dropFrames_ = 0;
    return true;
}

} // namespace kx5
