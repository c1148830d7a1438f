// The Tether connection, its audio streams and discovery against device ends
// the test plays itself over 127.0.0.1.
#include "bridge/app_paths.h"
#include "bridge/native_objects.h"
#include "net/native_call_tether.h"
#include "net/tether_connection.h"
#include "net/tether_discovery.h"
#include "tests/net/support/event_sink.h"
#include "tests/net/support/fake_tether_device.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <mutex>
#include <set>
#include <thread>

using namespace kx5;
namespace tether = kx5::net::tether;

namespace {

struct CountingSource final : AudioOutputStreamDelegate {
    std::atomic<uint8_t> next{0};
    size_t fill(uint8_t* buffer, size_t bytes) override {
        for (size_t i = 0; i < bytes; ++i)
            buffer[i] = next++;
        return bytes;
    }
};

struct Recording final : AudioInputStreamDelegate {
    std::mutex mutex;
    std::string bytes;
    bool wholeFrames = true;
    std::atomic<int> stops{0};
    void data(const uint8_t* buffer, size_t size) override {
        std::lock_guard lock(mutex);
        wholeFrames = wholeFrames && size % 4 == 0;
        bytes.append(reinterpret_cast<const char*>(buffer), size);
    }
    void stopped() override { ++stops; }
    size_t size() {
        std::lock_guard lock(mutex);
        return bytes.size();
    }
};

template <typename Predicate> bool eventually(Predicate p) {
    for (int i = 0; i < 4000; ++i) {
        if (p()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return p();
}

struct Tether : ::testing::Test {
    test::EventSink js;
    TetherConnectionEvents events{js};
    // Clients outlive the connection whose streams may call them.
    CountingSource source;
    Recording recording;
    TetherConnection connection;
    test::FakeTetherDevice device;
    TetherDevice record;

    void SetUp() override {
        connection.setDelegate(&events);
        record.address = "127.0.0.1";
        record.port = device.port();
        record.uid = "TSIM-00000001";
        record.caps = 1;
        record.name = "Fake";
    }
    void connect() {
        connection.connect(record);
        ASSERT_TRUE(device.accept());
        ASSERT_TRUE(js.waitFor("tether\fconnected\f" + tetherDeviceJson(record)));
    }
    // Waits for the next message from the host of the given type and sub.
    Bytes expectMessage(uint8_t type, uint8_t sub) {
        auto m = device.read();
        EXPECT_TRUE(m);
        if (!m) return {};
        EXPECT_EQ(m->type, type);
        EXPECT_EQ(m->sub, sub);
        return m->payload;
    }
    void sendState(tether::StateBlock out, tether::StateBlock in) {
        device.send(tether::kState, 0, out.encode() + in.encode());
        ASSERT_TRUE(eventually([&] { return connection.state(true).position == out.position; }));
    }
};

} // namespace

TEST_F(Tether, ConnectedDeviceGetsMidiPacketsAndSettings) {
    connect();
    EXPECT_EQ(connection.device(), record);
    connection.sendMidi(hexDecode("903C64"));
    EXPECT_EQ(hexEncode(expectMessage(tether::kMidi, 0)), "00000000"
                                                          "09903C64");
    connection.sendMidi(hexDecode("F07D10000000F7"));
    EXPECT_EQ(expectMessage(tether::kMidi, 0).size(), 16u);
    connection.sendMidi(""); // dropped
    connection.setKeepAliveCount(300);
    EXPECT_EQ(connection.keepAliveCount(), 255);
    EXPECT_EQ(hexEncode(expectMessage(tether::kKeepAlive, 1)), "FF");
    connection.setInputMode(3);
    EXPECT_EQ(hexEncode(expectMessage(tether::kAudio, tether::kInputMode)), "03");
    connection.outputStream().setVolume(0.5f);
    EXPECT_EQ(hexEncode(expectMessage(tether::kAudio, tether::kOutputVolume)), "3F");
    connection.outputStream().setVolume(1.5f); // out of range: nothing sent
    connection.inputStream().setVolume(1.0f);
    EXPECT_EQ(hexEncode(expectMessage(tether::kAudio, tether::kInputVolume)), "7F");
}

TEST_F(Tether, MidiFromTheDeviceArrivesAsMessages) {
    connect();
    device.send(tether::kMidi, 0,
                hexDecode("00000007"
                          "04F07D10"));
    device.send(tether::kMidi, 0,
                hexDecode("00000008"
                          "05F70000"
                          "09803C00"));
    const auto sysex = js.waitFor("tether\fmessage\f");
    ASSERT_TRUE(sysex);
    EXPECT_EQ((*sysex)[2], "F07D10F7");
    EXPECT_EQ((*sysex)[3], "8");
    EXPECT_EQ(js.waitFor("tether\fmessage\f")->at(2), "803C00");
}

TEST_F(Tether, SilentDeviceIsClosedByTheKeepAlive) {
    connect();
    device.send(tether::kKeepAlive, 1, Bytes(1, '\x01'));
    ASSERT_TRUE(js.waitFor("tether\fclosed\f" + tetherDeviceJson(record)));
    EXPECT_TRUE(device.seesClose());
    EXPECT_GE(device.pingsSeen(), 2);
    EXPECT_FALSE(connection.connected());
}

TEST_F(Tether, DeviceCloseIsReportedButADisconnectIsNot) {
    connect();
    device.close();
    ASSERT_TRUE(js.waitFor("tether\fclosed\f"));
    connect();
    connection.disconnect();
    EXPECT_TRUE(device.seesClose());
    EXPECT_EQ(js.all("tether\fclosed").size(), 1u);
    EXPECT_FALSE(connection.device());
}

TEST_F(Tether, ImpossibleFrameLengthEndsOnlyThatConnection) {
    connect();
    device.sendRaw(hexDecode("02008000"));
    ASSERT_TRUE(js.waitFor("tether\fclosed\f"));
    connect();
    device.send(tether::kMidi, 0,
                hexDecode("00000001"
                          "0FF80000"));
    EXPECT_EQ(js.waitFor("tether\fmessage\f")->at(2), "F8");
}

TEST_F(Tether, UnreachableOrUnreadableDevicesFailToConnect) {
    TetherDevice nowhere = record;
    {
        test::FakeTetherDevice gone; // its port is closed again at once
        nowhere.port = gone.port();
    }
    connection.connect(nowhere);
    ASSERT_TRUE(js.waitFor("tether\fconnectfailed\f" + tetherDeviceJson(nowhere)));
    EXPECT_EQ(connection.device(), nowhere);
    nowhere.address = "not an address";
    connection.connect(nowhere);
    EXPECT_TRUE(js.waitFor("tether\fconnectfailed\f" + tetherDeviceJson(nowhere)));
    connection.setTimeoutSeconds(-5);
    EXPECT_EQ(connection.timeoutSeconds(), 0);
}

TEST_F(Tether, StateReportsDriveVolumeTimeAndHeldPeaks) {
    connect();
    AudioOutputStream& out = connection.outputStream();
    AudioInputStream& in = connection.inputStream();
    EXPECT_FLOAT_EQ(out.peakPower(0), -120.0f);
    sendState({1, 127, -6, -10, 88200}, {2, 0, -3, -4, 44100});
    EXPECT_FLOAT_EQ(out.volume(), 1.0f);
    EXPECT_FLOAT_EQ(out.time(), 2.0f);
    EXPECT_FLOAT_EQ(in.volume(), 0.0f);
    EXPECT_FLOAT_EQ(in.time(), 1.0f);
    EXPECT_EQ(out.status(), 0); // not started
    EXPECT_EQ(out.channels(), 2);
    EXPECT_FLOAT_EQ(out.peakPower(0), -6.0f);
    EXPECT_FLOAT_EQ(in.peakPower(1), -4.0f);
    EXPECT_FLOAT_EQ(out.peakPower(2), 0.0f);
    sendState({1, 127, -20, -10, 88201}, {});
    EXPECT_FLOAT_EQ(out.peakPower(0), -6.0f); // held from before
    EXPECT_FLOAT_EQ(out.peakPower(0), -20.0f);
    connection.disconnect();
    EXPECT_FLOAT_EQ(out.time(), 0.0f);
    EXPECT_FLOAT_EQ(out.peakPower(1), -120.0f);
}

namespace {

uint16_t portOf(const Bytes& payload) {
    return payload.size() == 2 ? tether::readU16(reinterpret_cast<const uint8_t*>(payload.data()))
                               : 0;
}

} // namespace

TEST_F(Tether, OutputStreamSendsTheClientsSamplesUntilStopped) {
    connect();
    AudioOutputStream& out = connection.outputStream();
    out.setClient(&source);
    EXPECT_EQ(out.format().sampleRate, 44100u);
    out.start("");
    const uint16_t port = portOf(expectMessage(tether::kAudio, tether::kOutputStart));
    ASSERT_NE(port, 0);
    UniqueFd audio = test::connectLoopback(port);
    ASSERT_TRUE(audio);
    std::string got;
    while (got.size() < 20000) {
        char buf[4096];
        const ssize_t n = ::recv(audio.get(), buf, sizeof buf, 0);
        ASSERT_GT(n, 0);
        got.append(buf, static_cast<size_t>(n));
    }
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(static_cast<uint8_t>(got[i]), i & 0xFF);
    sendState({1, 100, 0, 0, 5000}, {});
    EXPECT_EQ(out.status(), 1);
    out.pause();
    expectMessage(tether::kAudio, tether::kOutputPause);
    out.stop();
    expectMessage(tether::kAudio, tether::kOutputStop);
    char buf[65536];
    ssize_t n;
    while ((n = ::recv(audio.get(), buf, sizeof buf, 0)) > 0) {
    }
    EXPECT_EQ(n, 0); // our side closed the audio connection
    EXPECT_EQ(out.status(), 0);
    out.setClient(nullptr);
}

TEST_F(Tether, InputStreamHandsOverWholeFramesAndStopsWhenTheDeviceCloses) {
    connect();
    AudioInputStream& in = connection.inputStream();
    in.setClient(&recording);
    in.start("");
    const uint16_t port = portOf(expectMessage(tether::kAudio, tether::kInputStart));
    UniqueFd audio = test::connectLoopback(port);
    ASSERT_TRUE(audio);
    ASSERT_EQ(::send(audio.get(), "0123456789", 10, 0), 10);
    ASSERT_TRUE(eventually([&] { return recording.size() == 8; }));
    ASSERT_EQ(::send(audio.get(), "abcdef", 6, 0), 6);
    ASSERT_TRUE(eventually([&] { return recording.size() == 16; }));
    EXPECT_EQ(recording.bytes, "0123456789abcdef");
    EXPECT_TRUE(recording.wholeFrames);

    in.stop(false); // the device ends the audio connection, then the client hears it
    expectMessage(tether::kAudio, tether::kInputStop);
    EXPECT_EQ(recording.stops, 0);
    audio.reset();
    ASSERT_TRUE(eventually([&] { return recording.stops == 1; }));
    in.setClient(nullptr);
}

TEST_F(Tether, SilentStopTellsNobodyButADisconnectStopsARecording) {
    connect();
    AudioInputStream& in = connection.inputStream();
    in.setClient(&recording);
    in.start("");
    UniqueFd audio =
        test::connectLoopback(portOf(expectMessage(tether::kAudio, tether::kInputStart)));
    ASSERT_TRUE(audio);
    ASSERT_TRUE(eventually([&] { return connection.tetherInput().connected(); }));
    in.stop(true);
    expectMessage(tether::kAudio, tether::kInputStop);
    char c;
    EXPECT_EQ(::recv(audio.get(), &c, 1, 0), 0);
    EXPECT_EQ(recording.stops, 0);

    in.start("");
    audio = test::connectLoopback(portOf(expectMessage(tether::kAudio, tether::kInputStart)));
    ASSERT_TRUE(audio);
    ASSERT_EQ(::send(audio.get(), "ABCD", 4, 0), 4);
    ASSERT_TRUE(eventually([&] { return recording.size() == 4; }));
    connection.disconnect();
    EXPECT_EQ(recording.stops, 1);
    in.setClient(nullptr);
}

TEST_F(Tether, AudioConnectionsFromOtherAddressesAreRefused) {
    connect();
    AudioInputStream& in = connection.inputStream();
    in.setClient(&recording);
    in.start("");
    const uint16_t port = portOf(expectMessage(tether::kAudio, tether::kInputStart));
    UniqueFd stranger = test::connectLoopback(port, "127.0.0.2");
    ASSERT_TRUE(stranger);
    ::send(stranger.get(), "ABCD", 4, MSG_NOSIGNAL);
    char c;
    EXPECT_LE(::recv(stranger.get(), &c, 1, 0), 0);
    EXPECT_EQ(recording.size(), 0u);
    in.stop(true);
    in.setClient(nullptr);
}

TEST(TetherCalls, RecordsThatCannotBeReadChangeNothing) {
    test::EventSink js;
    AppPaths paths;
    NativeObjects objects(js, paths);
    objects.tetherConnection = std::make_shared<TetherConnection>();
    NativeCall_tether module(&objects);
    EXPECT_EQ(module.call("device", {}), "s");
    EXPECT_EQ(module.call("connect", {"[1,2]"}), "esystem exception");
    EXPECT_EQ(module.call("connect", {"{}"}), "esystem exception");
    EXPECT_EQ(module.call("device", {}), "s");
    EXPECT_EQ(module.call("timeout", {}), "d5");
    EXPECT_EQ(module.call("timeout", {"2"}), "d2");
    EXPECT_EQ(module.call("keepalive", {}), "d3");
    EXPECT_EQ(module.call("keepalive", {"0"}), "d0");
    EXPECT_EQ(module.call("send", {"903C64"}), "v"); // not connected: dropped
    EXPECT_TRUE(js.seen().empty());
}

// Discovery against a device end that the test plays over UDP and TCP.

namespace {

void sendReply(uint16_t port, const Bytes& bytes) {
    UniqueFd fd = test::connectLoopback(port);
    ASSERT_TRUE(fd);
    net::sendAll(fd.get(), bytes.data(), bytes.size());
}

tether::DiscoveryReply reply(uint32_t serial, uint8_t caps) {
    tether::DiscoveryReply r;
    r.controlPort = 6000;
    r.serial = serial;
    r.caps = caps;
    r.uidPrefix = "TSIM";
    r.name = "Unit";
    r.manufacturer = "Maker";
    r.version = "3";
    return r;
}

} // namespace

TEST(TetherDiscoveryTest, ValidRepliesAreFoundOnceAndBadOnesIgnored) {
    UniqueFd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof local;
    ::bind(udp.get(), reinterpret_cast<sockaddr*>(&local), sizeof local);
    ::getsockname(udp.get(), reinterpret_cast<sockaddr*>(&local), &len);

    test::EventSink js;
    TetherDiscoveryEvents events(js);
    TetherDiscovery discovery(TetherDiscovery::targetsFromArguments(
        {"--other", "--tether-discovery=bad,127.0.0.1:" + std::to_string(ntohs(local.sin_port))}));
    discovery.setDelegate(&events);
    discovery.restart();

    char datagram[64];
    ASSERT_EQ(net::waitReadable(udp.get(), nullptr, 20000), net::WaitResult::Ready);
    const ssize_t n = ::recv(udp.get(), datagram, sizeof datagram, 0);
    const auto port = tether::parseDiscoveryDatagram(Bytes(datagram, static_cast<size_t>(n)));
    ASSERT_TRUE(port);

    UniqueFd silent = test::connectLoopback(*port);     // says nothing, holds up no one
    sendReply(*port, tether::encodeReply(reply(1, 0))); // no capabilities
    sendReply(*port, tether::encodeReply(reply(1, 1)).substr(0, 40)); // cut short
    Bytes badMagic = tether::encodeReply(reply(1, 1));
    badMagic[5] = '2';
    sendReply(*port, badMagic);
    sendReply(*port, tether::encodeReply(reply(1, 1)));
    sendReply(*port, tether::encodeReply(reply(1, 1))); // same uid again
    sendReply(*port, tether::encodeReply(reply(2, 1)) + "trailing");

    std::set<std::string> uids;
    for (int i = 0; i < 2; ++i) {
        const auto found = js.waitFor("tether\ffound\f");
        ASSERT_TRUE(found);
        const TetherDevice d = parseTetherDevice((*found)[2]);
        uids.insert(d.uid);
        EXPECT_EQ(d.address, "127.0.0.1");
        EXPECT_EQ(d.port, 6000);
        EXPECT_EQ(d.manufacturer, "Maker");
    }
    EXPECT_EQ(uids, (std::set<std::string>{"TSIM-00000001", "TSIM-00000002"}));
    EXPECT_EQ(discovery.devices().size(), 2u);

    discovery.restart(); // forgets what it found
    EXPECT_TRUE(discovery.devices().empty());
    EXPECT_EQ(js.all("tether\ffound").size(), 2u);
}
