// Encodes interleaved samples to AAC (MPEG-4 container) or MP3 and writes
// the file through FFmpeg.
#pragma once

#include "audio/engines/ffmpeg_handles.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kx5 {

class AudioEncoderWriter {
  public:
    enum class Codec { Aac, Mp3 };

    // muxer: an FFmpeg output format name ("ipod", "mp4", "mp3"). The input is
    // packed samples of inputFormat with the given channels and rate.
    static std::unique_ptr<AudioEncoderWriter> create(const std::string& path, const char* muxer,
                                                      Codec codec, int channels, int sampleRate,
                                                      int64_t bitRate, AVSampleFormat inputFormat);
    ~AudioEncoderWriter();

    bool write(const uint8_t* data, int frames);
    // Encodes what is buffered and writes the trailer; the file is complete
    // only after this returned true.
    bool finish();

  private:
    AudioEncoderWriter() = default;
    bool encodeFromFifo(bool flushAll);
    bool sendFrame(AVFrame* frame);

    ff::OutputContext output_;
    ff::CodecContext encoder_;
    ff::Resampler converter_;
    ff::AudioFifo fifo_;
    ff::Frame frame_;
    ff::Packet packet_;
    AVStream* stream_ = nullptr;
    int inputBlockAlign_ = 0;
    int64_t nextPts_ = 0;
    bool finished_ = false;
    bool failed_ = false;
};

} // namespace kx5
