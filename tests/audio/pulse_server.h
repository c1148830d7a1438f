// A private PulseAudio server for one test program: its own runtime folder
// and socket, a null sink as the only (default) output, stopped by PID.
#pragma once

#include "audio/engines/pulse_capture.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx5 {
class PulsePlayback;
}

namespace kx5::test {

class PulseServer {
  public:
    static constexpr const char* kSink = "kx5_null";
    static constexpr const char* kMonitor = "kx5_null.monitor";

    // Starts the server and points this process's PULSE_SERVER at it.
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool running() const { return ready_; }
    const std::string& serverAddress() const { return address_; }
    const std::string& log() const { return logPath_; }

    // Ends the server at once, as a crash would (SIGKILL).
    void kill();

    // Loads another null sink; answers the module index (or -1).
    int loadNullSink(const std::string& name);
    bool unloadModule(int index);

  private:
    TempDir folder_;
    std::string dir_; // the folder without its trailing "/"
    std::string address_;
    std::string logPath_;
    std::unique_ptr<ChildProcess> process_;
    bool ready_ = false;
    // A silent low-latency stream that keeps the null sink rendering in
    // small blocks; an idle null sink sleeps for seconds before it notices
    // a new stream.
    std::unique_ptr<PulsePlayback> keepAlive_;
};

template <typename Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Records what the null sink plays.
class MonitorCapture {
  public:
    MonitorCapture() {
        PulseCapture::Config c;
        c.device = PulseServer::kMonitor;
        c.bufferBytes = 1024;
        c.streamName = "test-monitor";
        engine_ = PulseCapture::open(c, [this](uint8_t* b, size_t n) {
            std::lock_guard lock(mutex_);
            const int16_t* s = reinterpret_cast<const int16_t*>(b);
            samples_.insert(samples_.end(), s, s + n / 2);
        });
    }
    bool ok() const { return engine_ != nullptr; }
    // Until the sink's silence arrives: what plays from then on is recorded
    // from its first frame.
    bool waitUntilRecording() {
        return waitUntil([&] {
            std::lock_guard lock(mutex_);
            return samples_.size() >= 2048;
        });
    }
    // Until at least `frames` stereo frames were recorded.
    bool waitForFrames(size_t frames) {
        return waitUntil([&] {
            std::lock_guard lock(mutex_);
            return samples_.size() >= 2 * frames;
        });
    }
    std::vector<int16_t> samples() {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        samples_.clear();
    }
    // Waits until some frames equal to value on the left channel arrived.
    bool waitFor(int16_t value, int tolerance = 1) {
        return waitUntil([&] {
            std::lock_guard lock(mutex_);
            for (size_t i = 0; i < samples_.size(); i += 2)
                if (std::abs(samples_[i] - value) <= tolerance) return true;
            return false;
        });
    }

  private:
    std::mutex mutex_;
    std::vector<int16_t> samples_;
    std::unique_ptr<PulseCapture> engine_;
};

} // namespace kx5::test
