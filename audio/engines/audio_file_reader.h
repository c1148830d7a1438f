// Decodes the first audio stream of any file FFmpeg can read into
// interleaved samples of a chosen layout, rate and sample format.
#pragma once

#include "audio/engines/ffmpeg_handles.h"
#include "audio/interface/wave_format.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kx5 {

class AudioFileReader {
  public:
    enum class Result { Data, End, Error };

    // nullptr when the file can't be opened, is not a regular file or has no
    // decodable audio stream.
    static std::unique_ptr<AudioFileReader> open(const std::string& path);
    ~AudioFileReader();

    // The stream as stored (tag, channels, rate, bits, byte rate).
    const WaveFormat& sourceFormat() const { return source_; }
    // True when the container is RIFF WAVE.
    bool isWaveFile() const { return isWave_; }
    double durationSeconds() const { return duration_; }
    // The container's short name ("wav", "aiff", "flac"...) and the codec.
    const char* containerName() const;
    AVCodecID codecId() const;
    // The decoder's own sample format (what setOutput converts from).
    AVSampleFormat decodedFormat() const;
    // Bits of each stored sample as the codec reports them; 0 when unknown.
    int storedBits() const;
    // The length in frames at the stream's rate when the container says so
    // (-1 when it does not).
    int64_t lengthFrames() const;

    // Output layout from now on: packed samples of the given format
    // (AV_SAMPLE_FMT_U8, S16, S32 or FLT). A mono source feeding two output
    // channels is copied to both at full level.
    bool setOutput(int channels, int sampleRate, AVSampleFormat sampleFormat);
    int outputBlockAlign() const { return blockAlign_; }
    int outputRate() const { return outRate_; }

    // Replaces out by the next decoded samples (never empty on Data).
    Result read(std::vector<uint8_t>& out);
    // Positions at the given time (sample-accurate for the output); false
    // leaves the position unspecified only when the container refuses.
    bool seek(double seconds);

  private:
    AudioFileReader() = default;
    bool convert(const AVFrame* frame, std::vector<uint8_t>& out);
    bool drainResampler(std::vector<uint8_t>& out);

    // The file, opened and checked here (FFmpeg reads it through io_): a
    // FIFO or a device is refused before anything waits on it.
    struct FileInput;
    std::unique_ptr<FileInput> input_;
    ff::InputContext format_;
    ff::CodecContext decoder_;
    ff::Resampler resampler_;
    ff::Frame frame_;
    ff::Packet packet_;
    int stream_ = -1;
    WaveFormat source_;
    bool isWave_ = false;
    double duration_ = 0;
    int outChannels_ = 0;
    int outRate_ = 0;
    AVSampleFormat outFormat_ = AV_SAMPLE_FMT_NONE;
    int blockAlign_ = 0;
    bool inputEnded_ = false;
    bool resamplerDrained_ = false;
    // After a seek: the target time, and output frames still to drop.
    double seekTarget_ = -1;
    int64_t dropFrames_ = 0;
};

// Format tag the way the format record reports it for a codec.
uint16_t waveTagForCodec(AVCodecID id, uint32_t storedTag);

} // namespace kx5
