// Plays one of two renderings of the DI phrase (A and B, the same phrase
// through two impulse responses) on the computer's audio output, each at
// its own gain; switching between them while playing crossfades at the same
// point of the phrase, so that only the IR changes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kx5 {

class PulsePlayback;

class AuditionPlayer {
  public:
    using Samples = std::shared_ptr<const std::vector<float>>;
    // Called on the stream's thread when the end of the phrase (not looping)
    // has been played.
    using Ended = std::function<void()>;
    // Called on the stream's thread when the output went away while playing
    // (the sound server stopped, the sink was removed); playing has stopped.
    using Lost = std::function<void()>;

    static constexpr int kTakes = 2;
    static constexpr double kCrossfadeSeconds = 0.01;
    // Frames the stream asks for at a time, and how many it keeps queued:
    // about 90 ms at 44.1 kHz, short enough for a switch to be heard at
    // once, long enough not to drop out on a busy machine.
    static constexpr size_t kBufferFrames = 1024;
    static constexpr int kBufferCount = 4;

    explicit AuditionPlayer(Ended ended = {}, Lost lost = {});
    // Stops the stream (never from its own callback).
    ~AuditionPlayer();
    AuditionPlayer(const AuditionPlayer&) = delete;
    AuditionPlayer& operator=(const AuditionPlayer&) = delete;

    // Both takes play at one rate: a take of another rate replaces the
    // other take too (it is then empty until set again).
    void setTake(int which, Samples samples, uint32_t rate);
    bool hasTake(int which) const;
    void setGain(int which, double linear);
    void setLoop(bool loop);
    void setDevice(const std::string& sink);

    // Plays take `which` from the start, or, while playing, switches to it
    // where the phrase is. False when there is no such take or no output.
    bool play(int which);
    void stop();
    // Lets go of a stream that has ended (from the UI thread).
    void closeIfIdle();

    struct Status {
        bool playing = false;
        int which = 0;
        double position = 0; // seconds
        double length = 0;
        unsigned underruns = 0; // the output ran dry since play (a gap was heard)
    };
    Status status() const;

  private:
    void fill(uint8_t* buffer, size_t bytes);
    void streamLost();
    double sampleAt(int take, size_t i) const;

    Ended ended_;
    Lost lost_;
    mutable std::mutex mutex_;
    Samples takes_[kTakes];
    double gains_[kTakes] = {1.0, 1.0};
    uint32_t rate_ = 0;
    int current_ = 0;
    int fadingFrom_ = -1; // the take fading out, -1 when none
    size_t fadeDone_ = 0;
    size_t position_ = 0;
    size_t tail_ = 0;
    unsigned underruns_ = 0;
    unsigned underflowBase_ = 0; // frames of silence still to go before "ended"
    bool playing_ = false;
    bool streamLost_ = false; // the stream failed: the next play opens another
    bool loop_ = false;
    std::string device_;
    std::unique_ptr<PulsePlayback> stream_;
    uint32_t streamRate_ = 0;
};

} // namespace kx5
