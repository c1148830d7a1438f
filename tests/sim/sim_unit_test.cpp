#include "sim/delayed_sender.h"
#include "sim/kx5_unit.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>

using namespace kx5::sim;

namespace {

const AddressMap& map() {
    return AddressMap::builtIn();
}

// A unit and what it sends back, plus message builders of the editor side.
struct Bench {
    explicit Bench(UnitOptions o = {})
        : unit(map(), o, [this](const Bytes& m) { out.push_back(m); }) {}

    Bytes frame(uint8_t command, uint32_t packed, const Bytes& payload, uint8_t device = 0x10) {
        Bytes m{0xF0, 0x7D, device, 0x00, 0x4B, 0x05, command};
        const size_t body = m.size();
        for (int s = 24; s >= 0; s -= 8)
            m.push_back(static_cast<uint8_t>(packed >> s));
        m.insert(m.end(), payload.begin(), payload.end());
        m.push_back(checksum(m.data() + body, m.size() - body));
        m.push_back(0xF7);
        return m;
    }
    Bytes rq1(uint32_t packed, uint32_t size) {
        const uint32_t s = sevenBitize(size);
        return frame(kCommandRq1, packed,
                     {uint8_t(s >> 24), uint8_t(s >> 16), uint8_t(s >> 8), uint8_t(s)});
    }
    void send(const Bytes& m) {
        t += 0.05; // well within the input rate
        unit.receive(m, t);
    }
    // The replies since the last call, parsed.
    std::vector<MakerMessage> replies() {
        std::vector<MakerMessage> r;
        for (const auto& m : out) {
            auto p = parseMakerMessage(m, map().identity());
            EXPECT_TRUE(p) << hexText(m);
            if (p) r.push_back(*p);
        }
        out.clear();
        return r;
    }

    std::vector<Bytes> out;
    double t = 0;
    Kx5Unit unit;
};

Bytes digitsOf(uint32_t v, int n) {
    Bytes b(static_cast<size_t>(n));
    for (int i = n - 1; i >= 0; --i, v >>= 4)
        b[static_cast<size_t>(i)] = v & 0xF;
    return b;
}

} // namespace

TEST(SimUnit, AnswersIdentityAndTheConnectionQuestions) {
    Bench b;
    b.send(*parseHex("F07E7F0601F7"));
    ASSERT_EQ(b.out.size(), 1u);
    EXPECT_EQ(hexText(b.out[0]), "F07E1006027D0502000000010000F7");
    b.out.clear();
    b.send(b.rq1(0x7F000000, 1));
    b.send(b.rq1(0x7F000002, 1));
    b.send(b.frame(kCommandDt1, 0x7F000001, {0x01}));
    EXPECT_TRUE(b.unit.communicationMode());
    b.send(b.rq1(0x7F000001, 1));
    const auto r = b.replies();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].address, nibble(0x7F000000));
    EXPECT_EQ(r[0].data, Bytes{0x00});
    EXPECT_EQ(r[1].data, Bytes{0x01});
    EXPECT_EQ(r[2].data, Bytes{0x01});
    for (const auto& m : r)
        EXPECT_TRUE(m.checksumOk);

    Bench other({.deviceId = 0x12, .communicationLevel = 3, .runningMode = 0x04});
    other.send(*parseHex("F07E7F0601F7"));
    EXPECT_EQ(other.out.at(0).at(2), 0x12);
    other.out.clear();
    other.send(other.rq1(0x7F000000, 1)); // addressed to device 10: not for it
    EXPECT_TRUE(other.out.empty());
    Bytes toAll = other.rq1(0x7F000000, 1);
    toAll[2] = 0x7F;
    other.send(toAll);
    other.send(other.frame(kCommandRq1, 0x7F000002, {0, 0, 0, 1}, 0x12));
    const auto r2 = other.replies();
    ASSERT_EQ(r2.size(), 2u);
    EXPECT_EQ(r2[0].data, Bytes{0x03});
    EXPECT_EQ(r2[0].deviceId, 0x12);
    EXPECT_EQ(r2[1].data, Bytes{0x04});
}

TEST(SimUnit, RequestsAreAnsweredFromMemoryClippedAndSplit) {
    Bench b({.maxReplyData = 100});
    b.send(b.rq1(0x20000200, 13));
    auto r = b.replies();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].data, map().find("PATCH%AMP")->initial);

    b.send(b.rq1(0x31200000, 300)); // FILE is 256 bytes
    r = b.replies();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].address, nibble(0x31200000));
    EXPECT_EQ(r[1].address, nibble(0x31200000) + 100);
    EXPECT_EQ(r[2].data.size(), 56u);
    for (const auto& m : r)
        EXPECT_TRUE(m.checksumOk);

    b.send(b.rq1(0x31100002, 10)); // inside SIZE: two bytes left
    r = b.replies();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].data.size(), 2u);

    b.send(b.rq1(0x31100004, 4)); // no block there
    b.send(b.rq1(0x05000000, 1));
    EXPECT_TRUE(b.out.empty());
    EXPECT_EQ(b.unit.stats().unknownAddress, 2u);
}

TEST(SimUnit, DataIsStoredUnlessChecksumAddressOrDeviceIsWrong) {
    Bench b;
    b.send(b.frame(kCommandDt1, 0x20000202, {0x64}));
    EXPECT_EQ(b.unit.blockData("PATCH%AMP").at(2), 0x64);

    Bytes bad = b.frame(kCommandDt1, 0x20000202, {0x10});
    bad[bad.size() - 2] ^= 1;
    b.send(bad);
    b.send(b.frame(kCommandDt1, 0x20000202, {0x11}, 0x11));
    b.send(b.frame(kCommandDt1, 0x2000020D, {0x01})); // past AMP's 13 bytes
    EXPECT_EQ(b.unit.blockData("PATCH%AMP").at(2), 0x64);
    EXPECT_EQ(b.unit.stats().badChecksums, 1u);
    EXPECT_EQ(b.unit.stats().unknownAddress, 1u);

    b.send(b.frame(kCommandDt1, 0x31100002, {1, 2, 3, 4})); // runs over SIZE's end
    EXPECT_EQ(b.unit.blockData("IRDATA(1)%SIZE"), (Bytes{0, 0, 1, 2}));
    EXPECT_EQ(b.unit.blockData("IRDATA(1)%NAME"), map().find("IRDATA(1)%NAME")->initial);
    EXPECT_TRUE(b.out.empty()) << "data is not answered";
}

TEST(SimUnit, VariableBlockKeepsItsLengthAndEnd) {
    Bench b;
    b.send(b.frame(kCommandDt1, 0x20001000, {0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c'}));
    b.send(b.rq1(0x20001000, 4));
    b.send(b.rq1(0x20001004, 128));
    b.send(b.rq1(0x20001007, 128)); // at the current end
    auto r = b.replies();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].data, (Bytes{3, 0, 0, 0}));
    EXPECT_EQ(r[1].data, (Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(r[2].data.empty());
    b.send(b.frame(kCommandDt1, 0x20001000, {0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(b.unit.blockData("PATCH%MEMO"), Bytes(4, 0));
}

TEST(SimUnit, StreamPiecesRealtimeBytesAndBrokenMessages) {
    Bench b;
    const Bytes id = *parseHex("F07E7F0601F7");
    b.unit.receive(id.data(), 3, 0.1);
    b.unit.receive(*parseHex("F8"), 0.1);
    b.unit.receive(id.data() + 3, 3, 0.1);
    EXPECT_EQ(b.out.size(), 1u);
    b.unit.receive(*parseHex("F07E7F06903C40F7"), 0.2); // a status byte breaks it off
    b.unit.receive(*parseHex("903C40"), 0.2);
    EXPECT_EQ(b.out.size(), 1u);
}

TEST(SimUnit, InputFasterThanTheLineRateIsLost) {
    // 253-byte DT1s, the largest the editor sends.
    Bench paced;
    Bytes big = paced.frame(kCommandDt1, 0x31300000, Bytes(240, 0x01));
    double t = 0;
    for (int i = 0; i < 50; ++i) {
        t += 253 * 10.0 / 312500 + 0.002; // the editor's pacing plus timer slack
        paced.unit.receive(big, t);
    }
    EXPECT_EQ(paced.unit.stats().overruns, 0u);

    Bench burst({.inputBufferBytes = 512});
    for (int i = 0; i < 5; ++i)
        burst.unit.receive(big, 1.0);
    EXPECT_EQ(burst.unit.stats().messages, 2u) << "a 512-byte buffer holds two";
    EXPECT_EQ(burst.unit.stats().overruns, 3u);
    burst.unit.receive(big, 1.0 + 253 * 10.0 / 312500);
    EXPECT_EQ(burst.unit.stats().messages, 3u) << "room again once one has drained";

    Bench unpaced; // an IR slot written without pacing
    for (int i = 0; i < 112; ++i)
        unpaced.unit.receive(big, 2.0);
    EXPECT_EQ(unpaced.unit.stats().messages, 16u) << "4096 / 253";
    EXPECT_EQ(unpaced.unit.stats().overruns, 96u);

    Bench din({.inputBitsPerSecond = 31250, .inputBufferBytes = 512});
    din.unit.receive(big, 1.0);
    din.unit.receive(big, 1.0);
    din.unit.receive(big, 1.02); // 20 ms later: DIN has moved only 62 bytes
    EXPECT_EQ(din.unit.stats().overruns, 1u);
}

TEST(SimUnit, PatchCommands) {
    Bench b;
    b.send(b.frame(kCommandDt1, 0x20000000, {'L', 'e', 'a', 'd'}));
    b.send(b.rq1(0x7F000102, 1));                     // current patch differs from PATCH(1)
    b.send(b.frame(kCommandDt1, 0x7F000104, {0x01})); // write to PATCH(2)
    b.send(b.rq1(0x60000000, 16));
    auto r = b.replies();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].data, Bytes{0});
    EXPECT_EQ(r[1].address, nibble(0x7F000104)) << "echo";
    EXPECT_EQ(std::string(r[2].data.begin(), r[2].data.end()), "Lead PATCH      ");
    EXPECT_EQ(b.unit.blockData("PATCH(2)%COMMON"), b.unit.blockData("PATCH%COMMON"));

    b.send(b.frame(kCommandDt1, 0x7F000100, {0x00})); // select PATCH(1)
    EXPECT_EQ(b.unit.blockData("PATCH%COMMON"), map().find("PATCH(1)%COMMON")->initial);
    b.send(b.frame(kCommandDt1, 0x00000000, {0x01})); // current patch number
    EXPECT_EQ(b.unit.blockData("PATCH%COMMON").at(0), 'L');
    EXPECT_EQ(b.unit.blockData("SETUP%COMMON").at(0), 1);
    b.send(b.frame(kCommandDt1, 0x20000202, {0x00}));
    b.send(b.frame(kCommandDt1, 0x7F010003, {0x00})); // discard the edit
    EXPECT_EQ(b.unit.blockData("PATCH%AMP"), b.unit.blockData("PATCH(2)%AMP"));
    b.replies();
    b.send(b.frame(kCommandDt1, 0x7F000100, {0x05})); // no such patch
    EXPECT_TRUE(b.out.empty());
}

TEST(SimUnit, IrSlotInitialiseAndValidation) {
    Bench b;
    const uint32_t slot = 0x33000000; // IRDATA(3)
    b.send(b.frame(kCommandDt1, slot, Bytes(32, 'x')));
    b.send(b.frame(kCommandDt1, slot + 0x00100000, digitsOf(5, 4)));
    Bytes file;
    for (char c : std::string("a.wav")) {
        file.push_back(uint8_t(c) >> 4);
        file.push_back(uint8_t(c) & 0xF);
    }
    b.send(b.frame(kCommandDt1, slot + 0x00200000, file));
    b.send(b.frame(kCommandDt1, slot + 0x00300000, digitsOf(0x3F800000, 8))); // 1.0f
    b.send(b.frame(kCommandDt1, 0x7F000300, {0x02}));
    auto r = b.replies();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].address, nibble(0x7F000300));
    EXPECT_EQ(r[1].address, map().find("IRDATA%STATUS")->address + 2);
    EXPECT_EQ(r[1].data, Bytes{1});
    EXPECT_EQ(b.unit.blockData("IRDATA%STATUS").at(2), 1);

    b.send(b.frame(kCommandDt1, slot + 0x00300008, digitsOf(0x7FC00000, 8))); // NaN
    b.send(b.frame(kCommandDt1, 0x7F000300, {0x02}));
    EXPECT_EQ(b.unit.blockData("IRDATA%STATUS").at(2), 2);

    b.send(b.frame(kCommandDt1, 0x7F000200, {0x00, 0x02}));
    r = b.replies();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[2].address, nibble(0x7F000200));
    EXPECT_EQ(r[2].data, (Bytes{0x00, 0x02}));
    EXPECT_EQ(b.unit.blockData("IRDATA(3)%DATA"), map().find("IRDATA(3)%DATA")->initial);
    EXPECT_EQ(b.unit.blockData("IRDATA(3)%NAME"), map().find("IRDATA(3)%NAME")->initial);
    EXPECT_EQ(b.unit.blockData("IRDATA%STATUS").at(2), 0);

    b.send(b.frame(kCommandDt1, 0x7F000300, {0x02})); // empty slot
    EXPECT_EQ(b.unit.blockData("IRDATA%STATUS").at(2), 2);
    b.replies();
    b.send(b.frame(kCommandDt1, 0x7F000200, {0x00, 0x0B})); // slot 12 does not exist
    EXPECT_TRUE(b.out.empty());
}

TEST(SimUnit, Faults) {
    Bench silent({.noReply = true});
    silent.send(*parseHex("F07E7F0601F7"));
    silent.send(silent.frame(kCommandDt1, 0x20000202, {0x05}));
    EXPECT_TRUE(silent.out.empty());
    EXPECT_EQ(silent.unit.blockData("PATCH%AMP").at(2), 5);

    Bench corrupt({.wrongChecksum = true});
    corrupt.send(corrupt.rq1(0x7F000000, 1));
    auto r = corrupt.replies();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_FALSE(r[0].checksumOk);

    Bench other({.wrongDevice = true});
    other.send(*parseHex("F07E7F0601F7"));
    EXPECT_EQ(hexText(other.out.at(0)).substr(12, 4), "0402") << "another model's family";
    other.out.clear();
    other.send(other.rq1(0x7F000000, 1));
    EXPECT_EQ(other.out.at(0).at(2), 0x11);
}

// Found, then mute: the identity request is answered, nothing else, until
// the faults are cleared.
TEST(SimUnit, IdentityOnlyUntilTheFaultsAreCleared) {
    Bench b({.identityOnly = true});
    b.send(*parseHex("F07E7F0601F7"));
    ASSERT_EQ(b.out.size(), 1u);
    EXPECT_EQ(hexText(b.out[0]), "F07E1006027D0502000000010000F7");
    b.out.clear();
    b.send(b.rq1(0x7F000000, 1));
    b.send(b.rq1(0x7F000002, 1));
    b.send(b.frame(kCommandDt1, 0x7F000200, {0x00, 0x01})); // initialise: no echo either
    b.send(b.frame(kCommandDt1, 0x20000202, {0x06}));
    EXPECT_TRUE(b.out.empty());
    EXPECT_EQ(b.unit.blockData("PATCH%AMP").at(2), 6) << "what it gets is still stored";

    b.unit.clearFaults();
    b.send(b.rq1(0x7F000000, 1));
    b.send(b.rq1(0x20000202, 1));
    const auto r = b.replies();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].data, Bytes{0x00});
    EXPECT_EQ(r[1].data, Bytes{0x06});

    Bench all({.noReply = true, .wrongChecksum = true, .wrongDevice = true});
    all.unit.clearFaults();
    all.send(*parseHex("F07E7F0601F7"));
    ASSERT_EQ(all.out.size(), 1u);
    EXPECT_EQ(hexText(all.out[0]), "F07E1006027D0502000000010000F7");
    all.out.clear();
    all.send(all.rq1(0x7F000000, 1));
    const auto r2 = all.replies();
    ASSERT_EQ(r2.size(), 1u);
    EXPECT_TRUE(r2[0].checksumOk);
    EXPECT_EQ(r2[0].deviceId, 0x10);
}

TEST(SimUnit, LateRepliesKeepOrderAndStopWithTheSender) {
    std::mutex m;
    std::condition_variable cv;
    std::vector<Bytes> got;
    {
        DelayedSender late(std::chrono::milliseconds(20), [&](const Bytes& b) {
            std::lock_guard lock(m);
            got.push_back(b);
            cv.notify_all();
        });
        late.send({1});
        late.send({2});
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return got.size() == 2; });
    }
    EXPECT_EQ(got, (std::vector<Bytes>{{1}, {2}}));
    {
        DelayedSender never(std::chrono::hours(1), [&](const Bytes& b) { got.push_back(b); });
        never.send({3});
    } // destroyed: the pending message is dropped, the thread joined
    EXPECT_EQ(got.size(), 2u);
}

TEST(SimUnit, DumpHoldsEveryBlockAndReplacesTheFileWhole) {
    Bench b;
    b.send(b.frame(kCommandDt1, 0x31000000, Bytes(32, 'N')));
    const auto dir =
        std::filesystem::temp_directory_path() / ("kx5-sim-dump-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "dump.json").string();
    std::string error;
    ASSERT_TRUE(b.unit.dumpToFile(path, &error)) << error;
    std::ifstream in(path);
    picojson::value v;
    in >> v;
    const auto& blocks = v.get("blocks").get<picojson::object>();
    EXPECT_EQ(blocks.size(), map().blocks().size());
    std::string names;
    for (int i = 0; i < 32; ++i)
        names += "4E";
    EXPECT_EQ(blocks.at("IRDATA(1)%NAME").get<std::string>(), names);
    EXPECT_EQ(v.get("product").get<std::string>(), "KX-5");
    EXPECT_FALSE(b.unit.dumpToFile((dir / "missing" / "dump.json").string(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1)
        << "no temporary left";
    std::filesystem::remove_all(dir);
}

// A lost DT1, a unit that hangs with its port still there, and one that
// kept its memory while it was off.
TEST(SimUnit, DroppedDt1SilenceAndKeptMemory) {
    Bench lossy({.dropDt1 = 2});
    lossy.send(lossy.frame(kCommandDt1, 0x7F000001, {0x01})); // a command: not counted
    lossy.send(lossy.frame(kCommandDt1, 0x20000202, {0x11}));
    lossy.send(lossy.frame(kCommandDt1, 0x20000203, {0x22})); // the second: lost
    lossy.send(lossy.frame(kCommandDt1, 0x20000203, {0x33})); // sent again: kept
    lossy.send(lossy.frame(kCommandDt1, 0x20000204, {0x44}));
    const Bytes amp = lossy.unit.blockData("PATCH%AMP");
    EXPECT_EQ(amp.at(2), 0x11);
    EXPECT_EQ(amp.at(3), 0x33);
    EXPECT_EQ(amp.at(4), 0x44);
    EXPECT_EQ(lossy.unit.stats().dropped, 1u);

    Bench b;
    b.unit.stopAnswering();
    b.send(*parseHex("F07E7F0601F7"));
    b.send(b.rq1(0x7F000000, 1));
    b.send(b.frame(kCommandDt1, 0x20000202, {0x07}));
    EXPECT_TRUE(b.out.empty());
    EXPECT_EQ(b.unit.blockData("PATCH%AMP").at(2), map().find("PATCH%AMP")->initial.at(2))
        << "a silent unit takes nothing in";
    b.unit.clearFaults();
    b.send(b.rq1(0x7F000000, 1));
    EXPECT_EQ(b.replies().size(), 1u);

    b.send(b.frame(kCommandDt1, 0x31000000, Bytes(32, 'K')));
    const std::string dump = b.unit.dumpJson();
    Bench again;
    again.unit.loadDump(dump);
    EXPECT_EQ(again.unit.blockData("IRDATA(1)%NAME"), Bytes(32, 'K'));
    EXPECT_EQ(again.unit.dumpJson().substr(0, dump.find("\"stats\"")),
              dump.substr(0, dump.find("\"stats\"")));
    EXPECT_THROW(again.unit.loadDump("{\"blocks\":{\"IRDATA(1)%NAME\":\"4B\"}}"),
                 std::runtime_error);
    EXPECT_THROW(again.unit.loadDump("{\"blocks\":{\"NOPE%X\":\"00\"}}"), std::runtime_error);
    EXPECT_THROW(again.unit.loadDump("not json"), std::runtime_error);
    EXPECT_EQ(again.unit.blockData("IRDATA(1)%NAME"), Bytes(32, 'K')) << "unchanged after refusals";
}
