// The recorder when its stream ends on its own thread (a network stream whose
// connection closes) while the user stops the recording: one file, complete,
// reported once.
#include "audio/interface/audio_stream.h"
#include "audio/players/audio_recorder.h"
#include "tests/audio/audio_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace kx5 {
namespace {

// Delivers blocks from its own thread; stopping it ends that thread, which
// then tells the client it stopped, as a stream whose peer hung up does.
class ThreadedStream final : public AudioInputStream {
  public:
    ~ThreadedStream() override { join(); }
    AudioInputStreamDelegate* client() const override { return client_; }
    void setClient(AudioInputStreamDelegate* client) override { client_ = client; }
    WaveFormat format() const override {
        WaveFormat f;
        f.tag = kWaveTagPcm;
        f.channels = 2;
        f.sampleRate = 44100;
        f.bitsPerSample = 16;
        f.blockAlign = 4;
        f.avgBytesPerSec = 44100 * 4;
        return f;
    }
    void start(const std::string&) override {
        join();
        running_ = true;
        thread_ = std::thread([this] {
            const std::vector<uint8_t> block(1024, 0x11);
            while (running_)
                if (auto* c = client_.load()) c->data(block.data(), block.size());
            if (auto* c = client_.load()) c->stopped();
        });
    }
    void pause() override {}
    // Does not wait: the stream's thread ends by itself.
    void stop(bool) override { running_ = false; }
    float volume() const override { return 1; }
    void setVolume(float) override {}
    int32_t channels() const override { return 2; }
    float peakPower(int32_t) override { return -120; }
    float time() const override { return 0; }
    int32_t status() const override { return running_ ? 1 : 0; }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<AudioInputStreamDelegate*> client_{nullptr};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

class Reports final : public AudioRecorderDelegate {
  public:
    void recorderStopped(const std::string& path) override {
        std::lock_guard lock(mutex_);
        stopped.push_back(path);
    }
    void recorderError(const std::string& path) override {
        std::lock_guard lock(mutex_);
        errors.push_back(path);
    }
    std::vector<std::string> stopped, errors;

  private:
    std::mutex mutex_;
};

TEST(AudioRecorder, AStreamEndingOnItsOwnThreadWhileTheUserStopsGivesOneCompleteFile) {
    test::TempDir dir;
    ThreadedStream stream;
    Reports reports;
    AudioRecorder recorder;
    recorder.setDelegate(&reports);
    recorder.setWaveInput(&stream);
    for (int round = 0; round < 100; ++round) {
        const std::string path = dir.file("take" + std::to_string(round) + ".wav");
        ASSERT_TRUE(recorder.create(path, AudioRecorder::kPcmFormat));
        recorder.record();
        std::this_thread::yield();
        recorder.stop();
        stream.join();
        const test::ParsedWave wave = test::readWave(path);
        ASSERT_TRUE(wave.ok) << path;
        EXPECT_EQ(wave.data.size() % 4, 0u);
        EXPECT_EQ(wave.data.size(), recorder.framesWritten() * 4) << "header matches the data";
    }
    EXPECT_EQ(reports.stopped.size(), 100u) << "each take reported exactly once";
    EXPECT_TRUE(reports.errors.empty());
}

} // namespace
} // namespace kx5
