// The program's bridge console with the network services against real peers
// on 127.0.0.1: a local HTTP server, /bin/sh, a TCP echo peer and the
// simulated Tether device.
#include "tests/support/console_process.h"
#include "tests/support/files.h"
#include "tests/support/local_http_server.h"
#include "tests/support/loopback.h"

#include "bridge/encoding.h"
#include "net/tether_device.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#ifndef TETHER_SIM_PATH
#error "TETHER_SIM_PATH must name the simulated device"
#endif

using namespace kx5;
using test::ConsoleProcess;

namespace {

using kx5::test::readFile;

// The simulated device on loopback, with an ephemeral discovery port.
class SimDevice {
  public:
    explicit SimDevice(std::vector<std::string> options = {}) {
        std::vector<std::string> argv = {TETHER_SIM_PATH, "--bind", "127.0.0.1", "--discovery-port",
                                         "0"};
        argv.insert(argv.end(), options.begin(), options.end());
        process = std::make_unique<test::ChildProcess>(argv);
        std::string ready;
        if (process->readLine(ready, 20000) &&
            std::sscanf(ready.c_str(), "ready discovery=%d", &discoveryPort) != 1)
            discoveryPort = 0;
    }
    ~SimDevice() { process->writeLine("quit"); }
    // Waits for a log line starting with prefix.
    std::optional<std::string> waitLog(const std::string& prefix) {
        for (std::string line; process->readLine(line, 20000);) {
            log.push_back(line);
            if (line.rfind(prefix, 0) == 0) return line;
        }
        return std::nullopt;
    }
    std::string discoveryOption() const {
        return "--tether-discovery=127.0.0.1:" + std::to_string(discoveryPort);
    }
    std::unique_ptr<test::ChildProcess> process;
    int discoveryPort = 0;
    std::vector<std::string> log;
};

// Finds the simulated device and connects to it; the device record.
std::string connectToSim(ConsoleProcess& console) {
    console.call({"$$tether_discovery"});
    const auto found = console.waitForEvent("tether\ffound\f");
    if (!found) return {};
    const std::string record = (*found)[2];
    console.call({"$$tether_connect", record});
    if (!console.waitForEvent("tether\fconnected\f" + record)) return {};
    return record;
}

// 16-bit stereo PCM WAVE data.
std::string waveFile(const std::string& pcm) {
    auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [](uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    return "RIFF" + u32(36 + static_cast<uint32_t>(pcm.size())) + "WAVEfmt " + u32(16) + u16(1) +
           u16(2) + u32(44100) + u32(176400) + u16(4) + u16(16) + "data" +
           u32(static_cast<uint32_t>(pcm.size())) + pcm;
}

} // namespace

TEST(ConsoleNet, DownloadShellAndTcpEchoThroughTheBridge) {
    test::LocalHttpServer server;
    const std::string body(150000, 'k');
    server.route("GET", "/ir.wav", [&](test::HttpExchange& x) { x.respond(200, body); });
    server.route("PUT", "/reject", [](test::HttpExchange& x) {
        x.readBody();
        x.respond(500, "{\"not\":\"for stdout\"}\n");
    });

    // An echo peer for tcpip.
    uint16_t echoPort = 0;
    const int listener = test::listenOnLoopback(1, echoPort);
    std::thread echo([listener] {
        const int fd = ::accept(listener, nullptr, nullptr);
        char buf[256];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            ::send(fd, buf, static_cast<size_t>(n), 0);
        ::close(fd);
    });

    ConsoleProcess console(KX5_EDITOR_PATH);
    ASSERT_TRUE(console.started());
    const std::string id = console.call({"$$http_download", server.url("/ir.wav")}).substr(1);
    ASSERT_TRUE(console.waitForEvent("http\fprogress\f" + id + "\f150000\f"));
    const auto done = console.waitForEvent("http\fcompleted\f" + id + "\f");
    ASSERT_TRUE(done);
    EXPECT_EQ(readFile((*done)[3]), body);

    const std::string up = console.file("up.bin");
    std::ofstream(up) << "data";
    const std::string upId = console.call({"$$http_upload", server.url("/reject"), up}).substr(1);
    EXPECT_TRUE(console.waitForEvent("http\ferror\f" + upId + "\f"));

    const std::string pid = console.call({"$$sh_exec", "[\"echo\",\"hi\"]"}).substr(1);
    EXPECT_EQ(console.waitForEvent("sh\fstdout\f" + pid + "\f")->at(3), "hi\n");
    EXPECT_EQ(console.waitForEvent("sh\fstdout\f" + pid + "\f")->at(3), "");

    EXPECT_EQ(console.call({"$$tcpip_connect", "127.0.0.1", std::to_string(echoPort)}), "d0");
    console.call({"$$tcpip_write", "0", "48656c6c6f"});
    std::string hex;
    while (hex.size() < 10) {
        const auto read = console.waitForEvent("tcpip\fread\f0\f");
        ASSERT_TRUE(read);
        hex += (*read)[3];
    }
    EXPECT_EQ(hex, "48656C6C6F");
    console.call({"$$tcpip_close", "0"});
    EXPECT_TRUE(console.waitForEvent("tcpip\fclosed\f0"));
    echo.join();
    ::close(listener);

    EXPECT_EQ(console.finish(), 0);
    EXPECT_TRUE(console.strayLines().empty()) << console.strayLines().front();
}

TEST(ConsoleNet, SimulatedTetherDeviceIsFoundConnectedAndEchoesMidi) {
    SimDevice sim;
    ASSERT_NE(sim.discoveryPort, 0);
    ConsoleProcess console(KX5_EDITOR_PATH, {.arguments = {sim.discoveryOption()}});
    EXPECT_EQ(console.call({"$$tether_device"}), "s");
    const std::string record = connectToSim(console);
    ASSERT_FALSE(record.empty());
    const TetherDevice device = parseTetherDevice(record);
    EXPECT_EQ(device.address, "127.0.0.1");
    EXPECT_EQ(device.uid, "TSIM-00C0FFEE");
    EXPECT_EQ(console.call({"$$tether_device"}), "s" + record);

    console.call({"$$tether_send", "903C64"});
    EXPECT_EQ(console.waitForEvent("tether\fmessage\f")->at(2), "903C64");
    console.call({"$$tether_send", "F07D10000000F7"});
    EXPECT_EQ(console.waitForEvent("tether\fmessage\f")->at(2), "F07D10000000F7");
    EXPECT_TRUE(sim.waitLog("midi 00000000"
                            "04F07D10"
                            "04000000"
                            "05F70000"));

    EXPECT_EQ(console.call({"$$tether_keepalive", "2"}), "d2");
    EXPECT_TRUE(sim.waitLog("keepalive 2"));
    console.call({"$$tether_inputmode", "1"});
    EXPECT_TRUE(sim.waitLog("inputmode 1"));

    // The device going away is "closed"; a page disconnect afterwards is quiet.
    sim.process->writeLine("close");
    EXPECT_TRUE(console.waitForEvent("tether\fclosed\f" + record));
    console.call({"$$tether_disconnect"});
    EXPECT_EQ(console.call({"$$tether_device"}), "s");
    EXPECT_EQ(console.finish(), 0);
}

TEST(ConsoleNet, SilentTetherDeviceIsClosedByTheKeepAlive) {
    SimDevice sim({"--silent"});
    ConsoleProcess console(KX5_EDITOR_PATH, {.arguments = {sim.discoveryOption()}});
    const std::string record = connectToSim(console);
    ASSERT_FALSE(record.empty());
    EXPECT_TRUE(console.waitForEvent("tether\fclosed\f" + record));
    int pings = 0;
    while (auto line = sim.waitLog("")) {
        if (*line == "ping") ++pings;
        if (line->rfind("control closed", 0) == 0) break;
    }
    EXPECT_EQ(pings, 4); // keep-alive 3: the fourth unanswered ping ends it
    EXPECT_EQ(console.finish(), 0);
}

TEST(ConsoleNet, PlayerAndRecorderSwitchToTheTetherStreams) {
    SimDevice sim;
    ConsoleProcess console(KX5_EDITOR_PATH, {.arguments = {sim.discoveryOption()}});
    ASSERT_FALSE(connectToSim(console).empty());

    std::string pcm;
    for (int i = 0; i < 11025; ++i) { // 0.25 s
        const int16_t s = static_cast<int16_t>((i % 100) * 200 - 10000);
        pcm.append(reinterpret_cast<const char*>(&s), 2);
        pcm.append(reinterpret_cast<const char*>(&s), 2);
    }
    const std::string song = console.file("song.wav");
    std::ofstream(song, std::ios::binary) << waveFile(pcm);
    console.call({"$$player_output", "true"});
    ASSERT_EQ(console.call({"$$player_open", song}), "b1");
    console.call({"$$player_play"});
    EXPECT_TRUE(sim.waitLog("audio-out start"));
    EXPECT_TRUE(console.waitForEvent("player\fstop\f" + song));
    EXPECT_TRUE(console.waitForEvent("player\feof\f" + song));

    const std::string take = console.file("take.wav");
    console.call({"$$recorder_input", "1"});
    ASSERT_EQ(console.call({"$$recorder_create", take, "4"}), "b1");
    console.call({"$$recorder_record"});
    ASSERT_TRUE(sim.waitLog("audio-in start"));
    // Record until the device has reported a fifth of a second.
    for (int i = 0; i < 400; ++i) {
        const std::string t = console.call({"$$recorder_time"});
        if (t.size() > 1 && std::stof(t.substr(1)) > 0.2f) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    console.call({"$$recorder_stop"});
    EXPECT_TRUE(sim.waitLog("audio-in stop"));
    ASSERT_TRUE(console.waitForEvent("recorder\fstop\f" + take));

    // The file holds the device's signal from its first frame, in order.
    const std::string wave = readFile(take);
    const size_t data = wave.find("data");
    ASSERT_NE(data, std::string::npos);
    const std::string samples = wave.substr(data + 8);
    ASSERT_GT(samples.size(), 4u * 4410u);
    for (size_t k = 0; k + 4 <= samples.size(); k += 4) {
        int16_t left, right;
        std::memcpy(&left, samples.data() + k, 2);
        std::memcpy(&right, samples.data() + k + 2, 2);
        const auto expected = static_cast<int16_t>(static_cast<int>((k / 4) % 441) * 64 - 14112);
        ASSERT_EQ(left, expected) << "frame " << k / 4;
        ASSERT_EQ(right, -expected) << "frame " << k / 4;
    }
    EXPECT_EQ(console.finish(), 0);
}
