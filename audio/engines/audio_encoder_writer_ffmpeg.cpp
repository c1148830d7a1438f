#include "audio/engines/audio_encoder_writer.h"

#include <algorithm>
#include <cstdio>

namespace kx5 {
namespace {

const AVCodec* findEncoder(AudioEncoderWriter::Codec codec) {
    if (codec == AudioEncoderWriter::Codec::Aac) return avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (const AVCodec* lame = avcodec_find_encoder_by_name("libmp3lame")) return lame;
    return avcodec_find_encoder(AV_CODEC_ID_MP3);
}

bool supportsRate(const AVCodec* codec, int rate) {
    if (!codec->supported_samplerates) return true;
    for (const int* r = codec->supported_samplerates; *r; ++r)
        if (*r == rate) return true;
    return false;
}

AVSampleFormat pickSampleFormat(const AVCodec* codec) {
    if (!codec->sample_fmts) return AV_SAMPLE_FMT_FLTP;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_FLTP) return *f;
    return codec->sample_fmts[0];
}

} // namespace

AudioEncoderWriter::~AudioEncoderWriter() = default;

std::unique_ptr<AudioEncoderWriter>
AudioEncoderWriter::create(const std::string& path, const char* muxer, Codec codec, int channels,
                           int sampleRate, int64_t bitRate, AVSampleFormat inputFormat) {
    ff::quietLogging();
    if (channels <= 0 || channels > 8 || sampleRate <= 0 || bitRate <= 0) return nullptr;
    std::unique_ptr<AudioEncoderWriter> w(new AudioEncoderWriter);
    const AVCodec* enc = findEncoder(codec);
    if (!enc || !supportsRate(enc, sampleRate)) return nullptr;

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, muxer, path.c_str()) < 0 || !raw)
        return nullptr;
    w->output_.reset(raw);

    w->encoder_.reset(avcodec_alloc_context3(enc));
    AVCodecContext* c = w->encoder_.get();
    if (!c) return nullptr;
    av_channel_layout_default(&c->ch_layout, channels);
    c->sample_rate = sampleRate;
    c->sample_fmt = pickSampleFormat(enc);
    c->bit_rate = bitRate;
    c->time_base = AVRational{1, sampleRate};
    if (raw->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(c, enc, nullptr) < 0) return nullptr;

    w->stream_ = avformat_new_stream(raw, nullptr);
    if (!w->stream_ || avcodec_parameters_from_context(w->stream_->codecpar, c) < 0) return nullptr;
    w->stream_->time_base = c->time_base;

    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &c->ch_layout, c->sample_fmt, sampleRate, &c->ch_layout,
                            inputFormat, sampleRate, 0, nullptr) < 0)
        return nullptr;
    w->converter_.reset(swr);
    if (swr_init(swr) < 0) return nullptr;
    w->inputBlockAlign_ = av_get_bytes_per_sample(inputFormat) * channels;
    w->fifo_.reset(av_audio_fifo_alloc(c->sample_fmt, channels, 4096));
    w->frame_.reset(av_frame_alloc());
    w->packet_.reset(av_packet_alloc());
    if (!w->fifo_ || !w->frame_ || !w->packet_) return nullptr;

    if (avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return nullptr;
    if (avformat_write_header(raw, nullptr) < 0) {
        w.reset();
        std::remove(path.c_str());
        return nullptr;
    }
    return w;
}

bool AudioEncoderWriter::write(const uint8_t* data, int frames) {
    if (failed_ || finished_) return false;
    if (frames <= 0) return true;
    AVCodecContext* c = encoder_.get();
    const int room = swr_get_out_samples(converter_.get(), frames);
    uint8_t** dst = nullptr;
    if (av_samples_alloc_array_and_samples(&dst, nullptr, c->ch_layout.nb_channels, room,
                                           c->sample_fmt, 0) < 0) {
        failed_ = true;
        return false;
    }
    const int n = swr_convert(converter_.get(), dst, room, &data, frames);
    const bool ok =
        n >= 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(dst), n) == n;
    av_freep(&dst[0]);
    av_freep(&dst);
    if (!ok || !encodeFromFifo(false)) {
        failed_ = true;
        return false;
    }
    return true;
}

bool AudioEncoderWriter::sendFrame(AVFrame* frame) {
    AVCodecContext* c = encoder_.get();
    if (avcodec_send_frame(c, frame) < 0) return false;
    for (;;) {
        const int rc = avcodec_receive_packet(c, packet_.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) return false;
        packet_->stream_index = stream_->index;
        av_packet_rescale_ts(packet_.get(), c->time_base, stream_->time_base);
        const int wrc = av_interleaved_write_frame(output_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (wrc < 0) return false;
    }
}

bool AudioEncoderWriter::encodeFromFifo(bool flushAll) {
    AVCodecContext* c = encoder_.get();
    const int frameSize = c->frame_size > 0 ? c->frame_size : 1152;
    while (av_audio_fifo_size(fifo_.get()) >= frameSize ||
           (flushAll && av_audio_fifo_size(fifo_.get()) > 0)) {
        const int n = std::min(frameSize, av_audio_fifo_size(fifo_.get()));
        AVFrame* f = frame_.get();
        av_frame_unref(f);
        f->nb_samples = n;
        f->format = c->sample_fmt;
        f->sample_rate = c->sample_rate;
        if (av_channel_layout_copy(&f->ch_layout, &c->ch_layout) < 0) return false;
        if (av_frame_get_buffer(f, 0) < 0) return false;
        if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(f->data), n) != n)
            return false;
        f->pts = nextPts_;
        nextPts_ += n;
        if (!sendFrame(f)) return false;
    }
    return true;
}

bool AudioEncoderWriter::finish() {
    if (finished_) return !failed_;
    finished_ = true;
    if (failed_) return false;
    // What the converter still holds, then what the FIFO holds, then the
    // encoder's own delay.
    AVCodecContext* c = encoder_.get();
    uint8_t** dst = nullptr;
    const int room = std::max(1, swr_get_out_samples(converter_.get(), 0));
    bool ok = av_samples_alloc_array_and_samples(&dst, nullptr, c->ch_layout.nb_channels, room,
                                                 c->sample_fmt, 0) >= 0;
    if (ok) {
        const int n = swr_convert(converter_.get(), dst, room, nullptr, 0);
        ok = n >= 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(dst), n) == n;
        av_freep(&dst[0]);
        av_freep(&dst);
    }
    ok = ok && encodeFromFifo(true) && sendFrame(nullptr);
    ok = ok && av_write_trailer(output_.get()) == 0;
    ok = avio_closep(&output_->pb) == 0 && ok;
    failed_ = !ok;
    return ok;
}

} // namespace kx5
