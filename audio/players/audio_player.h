// Plays one audio file through an output stream (the wave output unit or a
// network stream), decoding it into the stream's format as it plays.
#pragma once

#include "audio/interface/audio_stream.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kx5 {

class AudioFileReader;

class AudioPlayerDelegate {
  public:
    virtual ~AudioPlayerDelegate() = default;
    virtual void playerEndOfFile(const std::string& path) = 0;
    virtual void playerStopped(const std::string& path) = 0;
    virtual void playerError(const std::string& path) = 0;
};

class AudioPlayer final : public AudioOutputStreamDelegate {
  public:
    AudioPlayer();
    ~AudioPlayer() override;
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    void setDelegate(AudioPlayerDelegate* delegate) { delegate_ = delegate; }
    // The wave unit and the network stream the "output" switch chooses from.
    void setWaveOutput(AudioOutputStream* stream);
    // The owner of a network stream hands in nullptr before the stream goes.
    void setNetworkOutput(AudioOutputStream* stream);
    // Stops the current stream and becomes the client of the chosen one
    // (which may be absent).
    void useNetworkOutput(bool network);

    std::string device(const std::string* uid);
    bool open(const std::string& pathOrUrl);
    void play();
    void pause();
    void stop();
    void locate(float seconds);
    float volume(const float* gain);
    std::string file() const;
    int32_t status() const;
    int32_t channels() const;
    float peakPower(int32_t channel) const;
    float time() const;
    float totalTime() const { return totalTime_; }

    size_t fill(uint8_t* buffer, size_t bytes) override;
    // Told as a read error is: "stopped", then "error".
    void outputFailed() override;

  private:
    void switchTo(AudioOutputStream* stream);
    // Stream stopped, reader back at 0, offset 0, "stopped" told.
    void stopAndRewind();
    void rewindReader();

    std::atomic<AudioPlayerDelegate*> delegate_{nullptr};
    AudioOutputStream* stream_ = nullptr;
    AudioOutputStream* waveStream_ = nullptr;
    AudioOutputStream* networkStream_ = nullptr;
    bool usingNetwork_ = false;
    std::string uid_;
    // Reader and pending bytes belong to the stream's thread while it runs;
    // the controlling thread replaces them only with the stream stopped.
    std::unique_ptr<AudioFileReader> reader_;
    std::vector<uint8_t> pending_;
    size_t pendingRead_ = 0;
    mutable std::mutex pathMutex_;
    std::string path_;
    std::atomic<float> totalTime_{0};
    std::atomic<float> timeOffset_{0};
};

// "file:///x" and "file://host/x" name the local path; percent escapes of a
// file URL are decoded.
std::string pathFromFileUrl(const std::string& text);

} // namespace kx5
