// Devices, wave units, player, recorder and sampler against a private
// PulseAudio server whose null sink's monitor lets the tests hear the output.
#include "audio/devices/audio_devices.h"
#include "audio/engines/pulse_capture.h"
#include "audio/modules/audio_objects.h"
#include "audio/modules/native_call_audio.h"
#include "audio/modules/native_call_player.h"
#include "audio/modules/native_call_recorder.h"
#include "audio/modules/native_call_sampler.h"
#include "audio/players/audio_player.h"
#include "audio/players/audio_recorder.h"
#include "audio/units/audio_input_unit.h"
#include "audio/units/audio_output_unit.h"
#include "audio_test_support.h"
#include "pulse_server.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

using namespace kx5;
using namespace kx5::test;
using namespace std::chrono_literals;

namespace {

// Feeds the output unit a constant or square wave and counts what it gave.
class SignalClient final : public AudioOutputStreamDelegate {
  public:
    enum class Kind { Constant, Square, Silence };
    explicit SignalClient(Kind kind, int16_t level = 10000, size_t limitFrames = SIZE_MAX)
        : kind_(kind), level_(level), limit_(limitFrames) {}
    size_t fill(uint8_t* buffer, size_t bytes) override {
        const size_t frames = std::min(bytes / 4, limit_ - std::min(limit_, given_.load()));
        int16_t* s = reinterpret_cast<int16_t*>(buffer);
        for (size_t f = 0; f < frames; ++f) {
            int16_t v = 0;
            if (kind_ == Kind::Constant)
                v = level_;
            else if (kind_ == Kind::Square)
                v = ((given_ + f) / 50) % 2 ? 32767 : -32767;
            s[2 * f] = s[2 * f + 1] = v;
        }
        given_ += frames;
        ++calls_;
        return frames * 4;
    }
    std::atomic<size_t> given_{0};
    std::atomic<int> calls_{0};

  private:
    Kind kind_;
    int16_t level_;
    size_t limit_;
};

class RecordingClient final : public AudioInputStreamDelegate {
  public:
    void data(const uint8_t*, size_t bytes) override {
        sizes.push_back(bytes);
        ++buffers;
    }
    void stopped() override { ++stops; }
    std::vector<size_t> sizes; // written on the unit's thread only
    std::atomic<int> buffers{0};
    std::atomic<int> stops{0};
};

struct Pulse : ::testing::Test {
    static void SetUpTestSuite() { server = new PulseServer; }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server->running()) << "see " << server->log(); }
    static PulseServer* server;
    TempDir files;
};
PulseServer* Pulse::server = nullptr;

picojson::array parseList(const std::string& result) {
    picojson::value v;
    picojson::parse(v, result.substr(1));
    return v.get<picojson::array>();
}

std::string constantWave(const TempDir& dir, const std::string& name, size_t frames, int16_t level,
                         int channels = 2) {
    const std::string path = dir.file(name);
    writeWave(path, {1, static_cast<uint16_t>(channels), 44100, 16, false},
              pcm16(std::vector<int16_t>(frames * channels, level)));
    return path;
}

} // namespace

TEST_F(Pulse, DevicesListTheNullSinkAsCurrentAndReportChanges) {
    TestBridge bridge;
    createAudioDeviceObjects(*bridge.objects);
    createAudioDelegates(*bridge.objects);
    NativeCall_audio module(bridge.objects.get());

    auto outputs = parseList(module.call("outputs", {}));
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].serialize(),
              "{\"AudioDeviceBitDepthKey\":16,\"AudioDeviceChannelsKey\":2,"
              "\"AudioDeviceCurrentKey\":true,\"AudioDeviceNameKey\":\"KX5-Null\","
              "\"AudioDeviceSampleRateKey\":44100,\"AudioDeviceUIDKey\":\"kx5_null\"}");
    auto inputs = parseList(module.call("inputs", {}));
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0].get("AudioDeviceUIDKey").to_str(), PulseServer::kMonitor);
    EXPECT_TRUE(inputs[0].get("AudioDeviceCurrentKey").get<bool>());

    const int module2 = server->loadNullSink("kx5_second");
    ASSERT_GE(module2, 0);
    EXPECT_EQ(bridge.nextEvent(), "audio\fchanged");
    outputs = parseList(module.call("outputs", {}));
    ASSERT_EQ(outputs.size(), 2u);
    int current = 0;
    for (auto& o : outputs)
        current += o.get("AudioDeviceCurrentKey").get<bool>() ? 1 : 0;
    EXPECT_EQ(current, 1);
    EXPECT_EQ(findWaveDevice(AudioDirection::Render, "kx5_second"), "kx5_second");
    EXPECT_EQ(findWaveDevice(AudioDirection::Render, "no_such_sink"), "");
    EXPECT_EQ(findWaveDevice(AudioDirection::Capture, ""), "");

    // Drain the events of the load (sink and its monitor), then unload.
    while (!bridge.nextEvent(300ms).empty()) {
    }
    ASSERT_TRUE(server->unloadModule(module2));
    EXPECT_EQ(bridge.nextEvent(), "audio\fchanged");
    EXPECT_EQ(parseList(module.call("outputs", {})).size(), 1u);
}

TEST_F(Pulse, OutputUnitAppliesTheVolumeLaw) {
    MonitorCapture monitor;
    ASSERT_TRUE(monitor.ok());
    AudioOutputUnit unit;
    SignalClient client(SignalClient::Kind::Constant, 10000);
    unit.setClient(&client);
    unit.setVolume(0.5f);
    unit.start("no_such_device"); // an unknown uid plays on the default sink
    ASSERT_EQ(unit.status(), kStreamRunning);
    EXPECT_TRUE(monitor.waitFor(2973)); // 10000 x 0.5^1.75
    unit.setVolume(1.5f);
    EXPECT_TRUE(monitor.waitFor(10000, 0));
    unit.setVolume(0.0f);
    // Silence follows, and nothing but silence once the queue has drained.
    EXPECT_TRUE(monitor.waitFor(0, 0));
    std::this_thread::sleep_for(300ms);
    monitor.clear();
    std::this_thread::sleep_for(100ms);
    for (int16_t v : monitor.samples())
        ASSERT_EQ(v, 0);
    unit.stop();
    EXPECT_EQ(unit.status(), kStreamClosed);
}

TEST_F(Pulse, OutputUnitMetersPowerAndCountsTime) {
    AudioOutputUnit unit;
    SignalClient square(SignalClient::Kind::Square);
    unit.setClient(&square);
    EXPECT_EQ(unit.peakPower(0), -120.0f); // not running
    unit.start("");
    ASSERT_TRUE(waitUntil([&] { return square.calls_ > 8; }));
    EXPECT_NEAR(unit.peakPower(0), 0.0f, 0.1f);
    EXPECT_NEAR(unit.peakPower(1), 0.0f, 0.1f);
    EXPECT_EQ(unit.peakPower(2), -120.0f);
    unit.stop();

    SignalClient oneSecond(SignalClient::Kind::Silence, 0, 44100);
    unit.setClient(&oneSecond);
    unit.start("");
    ASSERT_TRUE(waitUntil([&] { return oneSecond.given_ == 44100 && oneSecond.calls_ > 12; }));
    EXPECT_EQ(unit.time(), 1.0f);
    EXPECT_EQ(unit.peakPower(0), -120.0f);
    unit.stop();
    EXPECT_EQ(unit.time(), 0.0f);
}

TEST_F(Pulse, OutputUnitPausesAndResumesWithoutReopening) {
    AudioOutputUnit unit;
    SignalClient client(SignalClient::Kind::Constant);
    unit.setClient(&client);
    unit.start("");
    ASSERT_TRUE(waitUntil([&] { return client.calls_ > 4; }));
    unit.pause();
    EXPECT_EQ(unit.status(), kStreamPaused);
    EXPECT_EQ(unit.peakPower(0), -120.0f);
    std::this_thread::sleep_for(150ms); // a request already on its way may still come
    const float pausedAt = unit.time();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(unit.time(), pausedAt); // nothing is asked for while paused
    unit.start("");
    EXPECT_EQ(unit.status(), kStreamRunning);
    EXPECT_TRUE(waitUntil([&] { return unit.time() > pausedAt; }));
    unit.start(""); // running: nothing changes
    EXPECT_EQ(unit.status(), kStreamRunning);
}

TEST_F(Pulse, InputUnitDeliversWholeBuffersAndTellsAboutStops) {
    AudioInputUnit unit;
    RecordingClient client;
    unit.setClient(&client);
    unit.start("");
    ASSERT_EQ(unit.status(), kStreamRunning);
    ASSERT_TRUE(waitUntil([&] { return client.buffers >= 3; }));
    unit.pause();
    EXPECT_EQ(unit.status(), kStreamPaused);
    unit.stop(false);
    EXPECT_EQ(client.stops, 1);
    for (size_t s : client.sizes)
        EXPECT_EQ(s, AudioInputUnit::kBufferBytes);
    EXPECT_EQ(unit.time(), 0.0f);
    unit.start("");
    unit.stop(true);
    EXPECT_EQ(client.stops, 1);
    unit.stop(false); // closed: nothing to tell
    EXPECT_EQ(client.stops, 1);
}

struct PulseBridge : Pulse {
    TestBridge bridge;
    void SetUp() override {
        Pulse::SetUp();
        createAudioDeviceObjects(*bridge.objects);
        createAudioDelegates(*bridge.objects);
        createAudioUnits(*bridge.objects);
    }
};

TEST_F(PulseBridge, PlayerPlaysToTheEndWithStopThenEof) {
    NativeCall_player player(bridge.objects.get());
    const std::string path = constantWave(files, "short.wav", 13230, 8000); // 0.3 s
    EXPECT_EQ(player.call("open", {"file://" + path}), "b1");
    EXPECT_EQ(player.call("file", {}), "s" + path);
    EXPECT_EQ(player.call("totaltime", {}), "f0.300000");
    EXPECT_EQ(player.call("channels", {}), "d2");
    EXPECT_EQ(player.call("volume", {"0.25"}), "f0.250000");
    EXPECT_EQ(player.call("volume", {"1.5"}), "f0.250000");
    player.call("play", {});
    EXPECT_EQ(player.call("status", {}), "d1");
    const auto events = bridge.eventsUntil("player\feof");
    EXPECT_EQ(events, (std::vector<std::string>{"player\fstop\f" + path, "player\feof\f" + path}));
    EXPECT_EQ(player.call("time", {}), "f0.000000");
    EXPECT_EQ(player.call("status", {}), "d0");
    EXPECT_EQ(player.call("peakpower", {"5"}), "f-120.000000");
    // The file stays open and plays again from the top.
    player.call("play", {});
    EXPECT_EQ(bridge.eventsUntil("player\feof").size(), 2u);
}

TEST_F(PulseBridge, PlayerLocateStopsAndTimeCountsFromThere) {
    NativeCall_player player(bridge.objects.get());
    const std::string path = constantWave(files, "long.wav", 44100 * 3, 8000);
    ASSERT_EQ(player.call("open", {path}), "b1");
    player.call("play", {});
    ASSERT_TRUE(waitUntil([&] { return player.call("time", {}) != "f0.000000"; }));
    player.call("locate", {"2"});
    EXPECT_EQ(player.call("status", {}), "d0");
    EXPECT_EQ(player.call("time", {}), "f2.000000");
    EXPECT_EQ(bridge.nextEvent(100ms), ""); // locate sends nothing
    player.call("play", {});
    ASSERT_TRUE(waitUntil([&] { return player.call("time", {}) != "f2.000000"; }));
    EXPECT_GT(std::stof(player.call("time", {}).substr(1)), 2.0f);
    player.call("stop", {});
    EXPECT_EQ(bridge.nextEvent(), "player\fstop\f" + path);
    EXPECT_EQ(player.call("time", {}), "f0.000000");
    EXPECT_EQ(player.call("open", {files.file("missing.wav")}), "b");
    EXPECT_EQ(player.call("file", {}), "s");
}

TEST_F(PulseBridge, PlayerAndSamplerRefuseAFifoOrADeviceAtOnce) {
    NativeCall_player player(bridge.objects.get());
    NativeCall_sampler sampler(bridge.objects.get());
    sampler.call("create", {"1"});
    Fifo fifo(files.file("pipe.wav"));
    ASSERT_FALSE(fifo.path.empty());
    for (const std::string& path : {fifo.path, std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(fifo.answerOf([&] { return player.call("open", {path}); }), "b");
        EXPECT_EQ(player.call("file", {}), "s");
        EXPECT_EQ(fifo.answerOf([&] { return sampler.call("open", {"0", path}); }), "b");
    }
    // A real file still opens after them.
    EXPECT_EQ(player.call("open", {constantWave(files, "ok.wav", 4410, 100)}), "b1");
}

TEST_F(PulseBridge, RecorderWritesWaveAndAac) {
    NativeCall_recorder recorder(bridge.objects.get());
    NativeCall_audio audio(bridge.objects.get());
    EXPECT_EQ(recorder.call("time", {}), "f0.000000");
    const std::string wav = files.file("take.wav");
    EXPECT_EQ(recorder.call("create", {wav, "4"}), "b1");
    EXPECT_EQ(recorder.call("file", {}), "s" + wav);
    recorder.call("record", {});
    EXPECT_EQ(recorder.call("status", {}), "d1");
    AudioRecorder& r = *bridge.objects->audioRecorder;
    ASSERT_TRUE(waitUntil([&] { return r.framesWritten() >= 8192; }));
    recorder.call("stop", {});
    EXPECT_EQ(bridge.nextEvent(), "recorder\fstop\f" + wav);
    EXPECT_EQ(recorder.call("file", {}), "s");
    const ParsedWave w = readWave(wav);
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.tag, 1);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, 44100u);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.data.size(), r.framesWritten() * 4);

    const std::string m4a = files.file("take.m4a");
    EXPECT_EQ(recorder.call("create", {m4a, "2"}), "b1");
    recorder.call("record", {});
    ASSERT_TRUE(waitUntil([&] { return r.framesWritten() >= 8192; }));
    recorder.call("stop", {});
    EXPECT_EQ(bridge.nextEvent(), "recorder\fstop\f" + m4a);
    picojson::value f;
    picojson::parse(f, audio.call("format", {m4a}).substr(1));
    EXPECT_EQ(f.get("format").to_str(), "AAC");
    EXPECT_EQ(f.get("channels").get<double>(), 2);

    // Rejected: unknown format numbers, PCM in MPEG-4, AAC in WAVE.
    EXPECT_EQ(recorder.call("create", {files.file("x.m4a"), "7"}), "b");
    EXPECT_EQ(recorder.call("create", {files.file("x.m4a"), "4"}), "b");
    EXPECT_EQ(recorder.call("create", {files.file("x.wav"), "1"}), "b");
    EXPECT_EQ(files.entries(), (std::vector<std::string>{"take.m4a", "take.wav"}));

    // Input running without a file: time stays 0.
    recorder.call("record", {});
    ASSERT_TRUE(waitUntil([&] { return bridge.objects->audioInputUnit->time() > 0; }));
    EXPECT_EQ(recorder.call("time", {}), "f0.000000");
    recorder.call("stop", {});
    EXPECT_EQ(bridge.nextEvent(100ms), "");
}

TEST_F(PulseBridge, RecorderStopWithoutRecordingStillFinalisesTheFile) {
    NativeCall_recorder recorder(bridge.objects.get());
    const std::string wav = files.file("empty.wav");
    ASSERT_EQ(recorder.call("create", {wav, "4"}), "b1");
    recorder.call("stop", {});
    EXPECT_EQ(bridge.nextEvent(), "recorder\fstop\f" + wav);
    const ParsedWave w = readWave(wav);
    EXPECT_TRUE(w.ok);
    EXPECT_TRUE(w.data.empty());
}

TEST_F(PulseBridge, SamplerFadesInFromSilence) {
    MonitorCapture monitor;
    ASSERT_TRUE(monitor.ok());
    NativeCall_sampler sampler(bridge.objects.get());
    EXPECT_EQ(sampler.call("volume", {"0"}), "f1.000000"); // no voices yet
    sampler.call("create", {"2"});
    sampler.call("create", {"5"});
    EXPECT_EQ(parseList(sampler.call("status", {})).size(), 2u);
    EXPECT_EQ(sampler.call("file", {"2"}), "esystem exception");

    const std::string path = constantWave(files, "dc.wav", 22050, 16000); // 0.5 s
    ASSERT_EQ(sampler.call("open", {"0", path}), "b1");
    EXPECT_EQ(sampler.call("fadein", {"0", "0.25"}), "f0.250000");
    EXPECT_EQ(sampler.call("speed", {"0", "3"}), "f1.000000");
    sampler.call("play", {"0"});
    EXPECT_EQ(bridge.eventsUntil("sampler\feof").back(), "sampler\feof\f0\f" + path);
    std::this_thread::sleep_for(100ms);
    // Left channel with silent gaps left out (a starved stream underruns
    // and resumes where it was): the level rises steadily to the full 16000
    // reached after the fade-in (11025 frames).
    std::vector<int16_t> left;
    const auto s = monitor.samples();
    for (size_t i = 0; i < s.size(); i += 2)
        if (s[i] != 0) left.push_back(s[i]);
    ASSERT_GT(left.size(), 11600u);
    EXPECT_LT(left[0], 1000);
    for (size_t i = 1; i < 11025; ++i)
        ASSERT_GE(left[i], left[i - 1] - 1) << i;
    EXPECT_LT(left[5000], 16000 * 0.7);
    EXPECT_EQ(left[11600], 16000);
    auto status = parseList(sampler.call("status", {}));
    EXPECT_EQ(status[0].get("state").get<double>(), 0);
    EXPECT_EQ(status[0].get("peakpower").get<picojson::array>().size(), 2u);
}

TEST_F(PulseBridge, SamplerRepeatPlaysTheRangeThreeTimesWithOneEof) {
    MonitorCapture monitor;
    ASSERT_TRUE(monitor.ok());
    NativeCall_sampler sampler(bridge.objects.get());
    sampler.call("create", {"1"});
    const std::string path = constantWave(files, "blip.wav", 4410, 12000); // 0.1 s
    ASSERT_EQ(sampler.call("open", {"0", path}), "b1");
    EXPECT_EQ(sampler.call("repeat", {"0", "2"}), "d2");
    sampler.call("play", {"0"});
    const auto events = bridge.eventsUntil("sampler\feof");
    EXPECT_EQ(events, std::vector<std::string>{"sampler\feof\f0\f" + path});
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(bridge.nextEvent(100ms), "");
    size_t loud = 0;
    for (auto v : monitor.samples())
        loud += v == 12000 ? 1 : 0;
    EXPECT_NEAR(double(loud) / 2, 3 * 4410, 50);
}

TEST_F(PulseBridge, PlayerAndRecorderWithoutANetworkStreamAnswerNeutrally) {
    NativeCall_player player(bridge.objects.get());
    NativeCall_recorder recorder(bridge.objects.get());
    const std::string path = constantWave(files, "a.wav", 4410, 100);
    player.call("output", {"true"});
    recorder.call("input", {"yes"});
    EXPECT_EQ(player.call("open", {path}), "b");
    player.call("play", {});
    EXPECT_EQ(player.call("status", {}), "d0");
    EXPECT_EQ(player.call("channels", {}), "d0");
    EXPECT_EQ(player.call("volume", {"0.5"}), "f0.000000");
    EXPECT_EQ(player.call("peakpower", {"0"}), "f-120.000000");
    EXPECT_EQ(recorder.call("create", {files.file("r.wav"), "4"}), "b");
    EXPECT_EQ(recorder.call("status", {}), "d0");
    EXPECT_EQ(bridge.objects->audioOutputUnit->client(), nullptr);

    player.call("output", {"false"});
    recorder.call("input", {"0"});
    EXPECT_EQ(player.call("open", {path}), "b1");
    EXPECT_EQ(player.call("channels", {}), "d2");
    EXPECT_EQ(recorder.call("channels", {}), "d2");
    EXPECT_EQ(files.entries(), std::vector<std::string>{"a.wav"});
}

TEST_F(PulseBridge, SamplerLoopsItsRangeAndStopsWithFades) {
    NativeCall_sampler sampler(bridge.objects.get());
    sampler.call("create", {"1"});
    const std::string path = constantWave(files, "dc.wav", 17640, 9000); // 0.4 s
    ASSERT_EQ(sampler.call("open", {"0", path}), "b1");
    EXPECT_EQ(sampler.call("totaltime", {"0"}), "f0.400000");
    EXPECT_EQ(sampler.call("end", {"0", "0.15"}), "f0.150000");
    EXPECT_EQ(sampler.call("begin", {"0", "0.3"}), "f0.000000"); // past the range end
    EXPECT_EQ(sampler.call("begin", {"0", "0.1"}), "f0.100000");
    EXPECT_EQ(sampler.call("time", {"0"}), "v");
    sampler.call("repeat", {"0", "1"});
    sampler.call("play", {"0"});
    EXPECT_EQ(bridge.eventsUntil("sampler\feof"),
              std::vector<std::string>{"sampler\feof\f0\f" + path});
    auto status = parseList(sampler.call("status", {}));
    EXPECT_EQ(status[0].get("state").get<double>(), 0);
    EXPECT_NEAR(status[0].get("time").get<double>(), 0.1, 1e-6); // rests at the begin point

    // Endless repeat: a stop with a long fade-out is "stopping" until a
    // forced stop cuts it short.
    sampler.call("repeat", {"0", "-1"});
    sampler.call("fadeout", {"0", "30"});
    sampler.call("play", {"0"});
    ASSERT_TRUE(waitUntil(
        [&] { return parseList(sampler.call("status", {}))[0].get("state").get<double>() == 2; }));
    sampler.call("stop", {"0"});
    EXPECT_EQ(parseList(sampler.call("status", {}))[0].get("state").get<double>(), 1);
    sampler.call("stop", {"0", "true"});
    EXPECT_TRUE(waitUntil(
        [&] { return parseList(sampler.call("status", {}))[0].get("state").get<double>() == 0; }));
    EXPECT_EQ(bridge.nextEvent(100ms), "");
}
