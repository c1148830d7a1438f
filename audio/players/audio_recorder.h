// Records from an input stream (the wave input unit or a network stream)
// into a WAVE (PCM) or MPEG-4 (AAC) file.
#pragma once

#include "audio/interface/audio_stream.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace kx5 {

class AudioEncoderWriter;
class WaveChunkWriter;

class AudioRecorderDelegate {
  public:
    virtual ~AudioRecorderDelegate() = default;
    virtual void recorderStopped(const std::string& path) = 0;
    virtual void recorderError(const std::string& path) = 0;
};

class AudioRecorder final : public AudioInputStreamDelegate {
  public:
    // Formats 0-3: AAC at these bit rates; 4: PCM as the stream delivers it.
    static constexpr int32_t kPcmFormat = 4;

    AudioRecorder();
    ~AudioRecorder() override;
    AudioRecorder(const AudioRecorder&) = delete;
    AudioRecorder& operator=(const AudioRecorder&) = delete;

    void setDelegate(AudioRecorderDelegate* delegate) { delegate_ = delegate; }
    void setWaveInput(AudioInputStream* stream);
    // The owner of a network stream hands in nullptr before the stream goes.
    void setNetworkInput(AudioInputStream* stream);
    void useNetworkInput(bool network);

    std::string device(const std::string* uid);
    bool create(const std::string& path, int32_t format);
    void record();
    void pause();
    void stop();
    float volume(const float* gain);
    std::string file() const;
    int32_t status() const;
    int32_t channels() const;
    float peakPower(int32_t channel) const;
    float time() const;
    uint64_t framesWritten() const { return framesWritten_; }

    void data(const uint8_t* buffer, size_t bytes) override;
    void stopped() override;

  private:
    void switchTo(AudioInputStream* stream);
    // Finalises and releases the writer; false when the file is incomplete.
    bool closeWriter();

    std::atomic<AudioRecorderDelegate*> delegate_{nullptr};
    AudioInputStream* stream_ = nullptr;
    AudioInputStream* waveStream_ = nullptr;
    AudioInputStream* networkStream_ = nullptr;
    bool usingNetwork_ = false;
    std::string uid_;
    // The writer belongs to the stream's thread while it records; the
    // controlling thread replaces it only with the stream stopped.
    // The stream's thread writes and may end the file (its connection ended)
    // while the UI thread stops or creates one: the writers are used under
    // writerMutex_ only.
    std::mutex writerMutex_;
    std::unique_ptr<WaveChunkWriter> wave_;
    std::unique_ptr<AudioEncoderWriter> encoder_;
    WaveFormat inputFormat_;
    std::atomic<bool> fileOpen_{false};
    std::atomic<uint64_t> framesWritten_{0};
    mutable std::mutex pathMutex_;
    std::string path_;
};

} // namespace kx5
