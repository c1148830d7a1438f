// Real round trips through a private JACK server (dummy backend) with a peer
// process: the driver's device list and names, sends and receives of notes
// and exclusive messages, "changed" when the peer's ports come and go, a send
// failure once the peer is gone, and the whole path through the program's
// bridge console.
#include "midi/driver_jack.h"
#include "midi/midi_client.h"
#include "midi_test_support.h"
#include "recording_delegate.h"
#include "tests/support/jack_server.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <atomic>
#include <cstdlib>
#include <thread>

using namespace kx5;
using kx5::test::bytesOf;
using kx5::test::ChildProcess;
using kx5::test::RecordingDelegate;
using kx5::test::waitUntil;

#ifndef KX5_JACK_PEER
#error "KX5_JACK_PEER must name the peer program"
#endif
#ifndef KX5_EXECUTABLE
#error "KX5_EXECUTABLE must name the built program"
#endif

namespace {

std::string hexOf(const std::vector<uint8_t>& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

class JackMidi : public ::testing::Test {
  public:
    static void SetUpTestSuite() {
        server = new test::JackServer();
        if (server->up()) setenv("JACK_DEFAULT_SERVER", server->name().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

  protected:
    void SetUp() override { ASSERT_TRUE(server->up()) << server->failure(); }

    // A peer named `name`; its ports are "<name>-out:out" and "<name>-in:in".
    std::unique_ptr<ChildProcess> startPeer(const std::string& name) {
        auto peer = std::make_unique<ChildProcess>(
            std::vector<std::string>{KX5_JACK_PEER, name},
            std::map<std::string, std::string>{{"JACK_DEFAULT_SERVER", server->name()}});
        std::string line;
        EXPECT_TRUE(peer->readUntil("ready", line)) << "peer did not start";
        return peer;
    }
    static bool peerSends(ChildProcess& peer, const std::vector<uint8_t>& bytes) {
        std::string line;
        return peer.writeLine("send " + hexOf(bytes)) && peer.readUntil("sent", line);
    }
    static std::string peerReceives(ChildProcess& peer) {
        std::string line;
        return peer.readUntil("recv ", line) ? line.substr(5) : std::string("(nothing)");
    }

    static test::JackServer* server;
    RecordingDelegate delegate;
};

test::JackServer* JackMidi::server = nullptr;

std::optional<MIDIEndpointRecord> recordNamed(const std::vector<MIDIEndpointRecord>& list,
                                              const std::string& deviceName) {
    for (const auto& r : list)
        if (r.deviceName == deviceName) return r;
    return std::nullopt;
}

} // namespace

TEST_F(JackMidi, DriverNamesThePeersPortsStably) {
    auto peer = startPeer("namepeer");
    MIDIClient client(std::make_shared<JackMidiDriver>("kx5test-names2"));
    const auto inputs = client.inputPort().endpoints();
    const auto outputs = client.outputPort().endpoints();
    const auto in = recordNamed(inputs, "namepeer-out");
    const auto out = recordNamed(outputs, "namepeer-in");
    ASSERT_TRUE(in.has_value());
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(*in,
              (MIDIEndpointRecord{"namepeer-out", "namepeer-out",
                                  "namepeer-outjack:namepeer-out:out", "jack:namepeer-out:out"}));
    EXPECT_EQ(out->endpointIndex, "jack:namepeer-in:in");
    // The program's own ports never show up as devices.
    client.outputPort().connect(*out);
    client.inputPort().connect(*in);
    EXPECT_EQ(client.inputPort().endpoints(), inputs);
    EXPECT_EQ(client.outputPort().endpoints(), outputs);
    // Another client coming and going does not change the names.
    {
        auto other = startPeer("another");
        EXPECT_EQ(recordNamed(client.inputPort().endpoints(), "namepeer-out"), in);
    }
}

TEST_F(JackMidi, SendsAndReceivesNotesAndExclusiveMessages) {
    auto peer = startPeer("roundtrip");
    MIDIClient client(std::make_shared<JackMidiDriver>("kx5test-roundtrip"));
    client.setDelegate(&delegate);
    client.inputPort().setInputDelegate(&delegate);
    const auto out = recordNamed(client.outputPort().endpoints(), "roundtrip-in");
    const auto in = recordNamed(client.inputPort().endpoints(), "roundtrip-out");
    ASSERT_TRUE(out && in);
    // Messages sent right after connecting arrive.
    client.outputPort().connect(*out);
    ASSERT_TRUE(delegate.outputFailures().empty());

    std::vector<uint8_t> longExclusive{0xF0, 0x41};
    while (longExclusive.size() < 511)
        longExclusive.push_back(longExclusive.size() & 0x7F);
    longExclusive.push_back(0xF7);
    const auto stream = bytesOf({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7, 0x90, 0x3C, 0x7F, 0x3C, 0x00});
    client.outputPort().send(stream.data(), stream.size());
    client.outputPort().send(longExclusive.data(), longExclusive.size());
    EXPECT_EQ(peerReceives(*peer), "F07E7F0601F7");
    EXPECT_EQ(peerReceives(*peer), "903C7F");
    EXPECT_EQ(peerReceives(*peer), "903C00");
    EXPECT_EQ(peerReceives(*peer), hexOf(longExclusive));
    EXPECT_TRUE(delegate.errors().empty());

    std::vector<uint8_t> reply{0xF0, 0x7E, 0x10, 0x06, 0x02};
    while (reply.size() < 999)
        reply.push_back(static_cast<uint8_t>(reply.size() % 0x80));
    reply.push_back(0xF7);
    client.inputPort().connect(*in);
    ASSERT_TRUE(delegate.inputFailures().empty());
    ASSERT_TRUE(peerSends(*peer, bytesOf({0x80, 0x3C, 0x00})));
    ASSERT_TRUE(peerSends(*peer, bytesOf({0xF8})));
    ASSERT_TRUE(peerSends(*peer, bytesOf({0xFE})));
    ASSERT_TRUE(peerSends(*peer, reply));
    ASSERT_TRUE(waitUntil([&] { return delegate.messages().size() >= 3; }));
    const auto got = delegate.messageBytes();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], bytesOf({0x80, 0x3C, 0x00}));
    ASSERT_EQ(got[1].size(), 512u);
    ASSERT_EQ(got[2].size(), 488u);
    std::vector<uint8_t> joined = got[1];
    joined.insert(joined.end(), got[2].begin(), got[2].end());
    EXPECT_EQ(joined, reply);

    // The peer goes away: the next send fails once with "error"; the input stays listed.
    peer.reset();
    const auto note = bytesOf({0x90, 0x40, 0x40});
    EXPECT_TRUE(waitUntil([&] {
        client.outputPort().send(note.data(), note.size());
        return !delegate.errors().empty();
    }));
    EXPECT_EQ(delegate.errors(), std::vector<int32_t>{MidiErrorDeviceGone});
    EXPECT_FALSE(client.outputPort().isOpen(out->endpointUID));
}

TEST_F(JackMidi, ReportsPortsAppearingAndDisappearing) {
    MIDIClient client(std::make_shared<JackMidiDriver>("kx5test-changes"));
    client.setDelegate(&delegate);
    // The server's own ports (if any) may give one report first.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const int before = delegate.changes();
    auto peer = startPeer("comesandgoes");
    ASSERT_TRUE(waitUntil([&] { return delegate.changes() == before + 1; }));
    peer.reset();
    ASSERT_TRUE(waitUntil([&] { return delegate.changes() == before + 2; }));
}

// An input whose messages are echoed to the same client's outputs (as
// "midix" thru does) while the page connects and disconnects those outputs:
// neither side may wait for the other forever.
TEST_F(JackMidi, EchoWhileOutputsComeAndGo) {
    auto peer = startPeer("echo");
    MIDIClient client(std::make_shared<JackMidiDriver>("kx5test-echo"));
    struct Echo final : MIDIInputDelegate {
        MIDIClient* client = nullptr;
        std::atomic<int> count{0};
        void message(const uint8_t* bytes, size_t size, uint32_t) override {
            client->outputPort().echo(bytes, size);
            ++count;
        }
    } echo;
    echo.client = &client;
    client.inputPort().setInputDelegate(&echo);
    const auto out = recordNamed(client.outputPort().endpoints(), "echo-in");
    const auto in = recordNamed(client.inputPort().endpoints(), "echo-out");
    ASSERT_TRUE(out && in);
    client.inputPort().connect(*in);
    ASSERT_TRUE(peer->writeLine("burst 3000 903C7F"));

    std::atomic<bool> done{false};
    std::thread page([&] {
        for (int i = 0; i < 40; ++i) {
            client.outputPort().connect(*out);
            client.outputPort().disconnect(*out);
        }
        done = true;
    });
    if (!waitUntil([&] { return done.load(); }, std::chrono::seconds(120))) {
        ADD_FAILURE() << "connecting outputs and echoing input wait for each other";
        // The threads cannot be joined: end the helpers, then the program.
        peer.reset();
        delete server;
        std::_Exit(1);
    }
    page.join();
    std::string line;
    EXPECT_TRUE(peer->readUntil("sent", line));
    EXPECT_TRUE(waitUntil([&] { return echo.count.load() > 0; }));
}

// The complete path: program, bridge console, "midi" module, JACK, peer.
TEST_F(JackMidi, ConsoleListsConnectsSendsReceivesAndSeesChanges) {
    auto peer = startPeer("unit");
    test::TempDir home;
    ChildProcess console({KX5_EXECUTABLE, "--console", "--midi-api=jack"},
                         {{"HOME", home.path()},
                          {"XDG_DATA_HOME", home.path() + "data"},
                          {"XDG_CONFIG_HOME", home.path() + "config"},
                          {"TMPDIR", home.path()},
                          {"KX5_MIDI_API", "alsa"},
                          {"JACK_DEFAULT_SERVER", server->name()}});
    std::vector<std::string> events;
    // One call; returns its result, keeping the events printed before it.
    auto call = [&](const std::string& line) {
        std::string out;
        if (!console.writeLine(line) || !console.readUntil("{\"r\":", out, &events))
            return std::string();
        picojson::value v;
        picojson::parse(v, out);
        return v.get("r").to_str();
    };
    auto eventCount = [&](const std::string& prefix) {
        return std::count_if(events.begin(), events.end(), [&](const std::string& e) {
            picojson::value v;
            picojson::parse(v, e);
            return v.get("e").to_str().rfind(prefix, 0) == 0;
        });
    };
    auto pump = [&] {
        call(R"(["wait",100])"
             "\n"
             R"(["$$util_bytes",""])");
    };

    const std::string inputs = call(R"(["$$midi_inendpoints"])");
    ASSERT_EQ(inputs.substr(0, 2), "s[");
    picojson::value list;
    picojson::parse(list, inputs.substr(1));
    std::string inRecord;
    for (const auto& r : list.get<picojson::array>())
        if (r.get("MIDIDeviceNameKey").to_str() == "unit-out") inRecord = r.serialize();
    ASSERT_EQ(
        inRecord,
        R"({"MIDIDeviceNameKey":"unit-out","MIDIEndpointIndexKey":"jack:unit-out:out",)"
        R"("MIDIEndpointUIDKey":"unit-outjack:unit-out:out","MIDIEntityNameKey":"unit-out"})");
    const std::string outRecord =
        midiEndpointToJson(MIDIEndpointRecord::fromDevice("unit-in", "jack:unit-in:in"));
    ASSERT_NE(call(R"(["$$midi_outendpoints"])").find(outRecord), std::string::npos);

    picojson::array connectIn{picojson::value("$$midi_inconnect"), picojson::value(inRecord)};
    picojson::array connectOut{picojson::value("$$midi_outconnect"), picojson::value(outRecord)};
    EXPECT_EQ(call(picojson::value(connectIn).serialize()), "v");
    EXPECT_EQ(call(picojson::value(connectOut).serialize()), "v");
    EXPECT_EQ(call(R"(["$$midi_send","F07E7F0601F7"])"), "v");
    EXPECT_EQ(peerReceives(*peer), "F07E7F0601F7");

    ASSERT_TRUE(peerSends(*peer, bytesOf({0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0xF7})));
    ASSERT_TRUE(waitUntil([&] {
        pump();
        return eventCount("midi\fmessage\fF07E10060241F7\f") == 1;
    }));
    EXPECT_EQ(eventCount("midi\fconnectfailed"), 0);

    const auto changesBefore = eventCount("midi\fchanged");
    peer.reset();
    ASSERT_TRUE(waitUntil([&] {
        pump();
        return eventCount("midi\fchanged") > changesBefore;
    })) << ::testing::PrintToString(events);
    console.closeInput();
    EXPECT_EQ(console.waitExit(30000), 0);
}
