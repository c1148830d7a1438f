// Pure wire and text formats: download names, Tether frames, discovery
// replies, USB-MIDI packets, device records, shell output pieces.
#include "net/download_name.h"
#include "net/shell_output.h"
#include "net/tether_device.h"
#include "net/tether_midi.h"
#include "net/tether_protocol.h"

#include <gtest/gtest.h>

using namespace kx5;
namespace tether = kx5::net::tether;

TEST(DownloadName, UrlExtensionWithoutQueryAndHexIds) {
    EXPECT_EQ(net::temporaryDownloadPath("/tmp/p/", 0x1a2b, 0x3c, "http://h/a/ir.wav?v=2&x=y"),
              "/tmp/p/lttc_1a2b_3c.wav");
    EXPECT_EQ(net::downloadSuffix("http://h/a/b.tar.gz"), ".gz");
    EXPECT_EQ(net::downloadSuffix("http://h/x?name=a.wav"), ".wav");
}

TEST(DownloadName, DotsOutsideTheFileNameGiveNoExtension) {
    // The dot in the host name or a folder would put a "/" into the file name.
    EXPECT_EQ(net::downloadSuffix("http://www.example.com/file"), "");
    EXPECT_EQ(net::downloadSuffix("http://127.0.0.1:8080/dir.d/file"), "");
    EXPECT_EQ(net::downloadSuffix(".hidden"), "");
    EXPECT_EQ(net::downloadSuffix("nodot"), "");
}

TEST(TetherFrames, EncodeAndReadBackAcrossArbitrarySplits) {
    const Bytes a = tether::encodeMessage(2, 0, Bytes("\x00\x00\x00\x00\x09\x90\x3c\x64", 8));
    EXPECT_EQ(hexEncode(a.substr(0, 4)), "02000008");
    const Bytes b = tether::encodeMessage(0, 0);
    const Bytes stream = a + b;
    tether::MessageReader reader;
    std::vector<tether::Message> got;
    for (char c : stream) {
        reader.feed(&c, 1);
        tether::Message m;
        while (reader.next(m) == tether::MessageReader::Result::Message)
            got.push_back(m);
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].type, 2);
    EXPECT_EQ(hexEncode(got[0].payload), "00000000099"
                                         "03C64");
    EXPECT_EQ(got[1].type, 0);
    EXPECT_TRUE(got[1].payload.empty());
}

TEST(TetherFrames, LengthWithTopBitEndsTheStreamAndBufferStaysBounded) {
    tether::MessageReader reader;
    const Bytes bad = hexDecode("02008000");
    reader.feed(bad.data(), bad.size());
    tether::Message m;
    EXPECT_EQ(reader.next(m), tether::MessageReader::Result::Invalid);
    const Bytes good = tether::encodeMessage(0, 0);
    reader.feed(good.data(), good.size());
    EXPECT_EQ(reader.next(m), tether::MessageReader::Result::Invalid);

    // The largest frame fits; a reader never holds more than one frame.
    tether::MessageReader big;
    const Bytes maxFrame = tether::encodeMessage(1, 0, Bytes(tether::kMaxPayload, 'x'));
    EXPECT_EQ(big.room(), maxFrame.size());
    big.feed(maxFrame.data(), maxFrame.size());
    EXPECT_EQ(big.room(), 0u);
    ASSERT_EQ(big.next(m), tether::MessageReader::Result::Message);
    EXPECT_EQ(m.payload.size(), tether::kMaxPayload);
}

TEST(TetherDiscoveryWire, DatagramAndReplyRoundTrip) {
    EXPECT_EQ(hexEncode(tether::discoveryDatagram(0x1234)), "544444507631"
                                                            "1234");
    EXPECT_EQ(tether::parseDiscoveryDatagram(tether::discoveryDatagram(40000)), 40000);
    EXPECT_FALSE(tether::parseDiscoveryDatagram("TDDPv2\x01\x02"));

    tether::DiscoveryReply r;
    r.controlPort = 5000;
    r.serial = 0xABC;
    r.caps = 3;
    r.image = 4;
    r.status = 5;
    r.manufacturer = "Maker";
    r.uidPrefix = "PFX";
    r.version = "2.1";
    r.name = "Box";
    const Bytes wire = tether::encodeReply(r);
    ASSERT_EQ(wire.size(), tether::kReplySize);
    const auto back = tether::decodeReply(reinterpret_cast<const uint8_t*>(wire.data()));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->controlPort, 5000);
    EXPECT_EQ(back->caps, 3);
    EXPECT_EQ(back->name, "Box");
    EXPECT_EQ(tether::deviceUid(*back), "PFX-00000ABC");
}

TEST(TetherDiscoveryWire, FullWidthTextsStopAtTheirFieldAndBadMagicIsRejected) {
    tether::DiscoveryReply r;
    r.manufacturer = std::string(40, 'M'); // longer than its 16 bytes
    r.uidPrefix = "ABCDEFGHIJ";
    r.name = std::string(16, 'N');
    Bytes wire = tether::encodeReply(r);
    const auto back = tether::decodeReply(reinterpret_cast<const uint8_t*>(wire.data()));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->manufacturer, std::string(16, 'M'));
    EXPECT_EQ(back->uidPrefix, "ABCDEFGH");
    EXPECT_EQ(back->name, std::string(16, 'N'));
    wire[0] = 'X';
    EXPECT_FALSE(tether::decodeReply(reinterpret_cast<const uint8_t*>(wire.data())));
}

TEST(TetherMidiOut, ChannelAndSystemMessagesBecomeOnePacket) {
    EXPECT_EQ(hexEncode(tether::packMidiMessage(hexDecode("903C64"))), "00000000"
                                                                       "09903C64");
    EXPECT_EQ(hexEncode(tether::packMidiMessage(hexDecode("C005"))), "00000000"
                                                                     "0CC00500");
    EXPECT_EQ(hexEncode(tether::packMidiMessage(hexDecode("F8"))), "00000000"
                                                                   "0FF80000");
    EXPECT_EQ(hexEncode(tether::packMidiMessage(hexDecode("F27F01"))), "00000000"
                                                                       "03F27F01");
    EXPECT_EQ(hexEncode(tether::packMidiMessage(hexDecode("F310"))), "00000000"
                                                                     "02F31000");
    EXPECT_EQ(hexEncode(tether::packMidiMessage(hexDecode("F6"))), "00000000"
                                                                   "05F60000");
}

TEST(TetherMidiOut, SystemExclusiveIsCutIntoThreeBytePackets) {
    EXPECT_EQ(hexEncode(tether::packMidiMessage(hexDecode("F07D10000000F7"))), "00000000"
                                                                               "04F07D10"
                                                                               "04000000"
                                                                               "05F70000");
    EXPECT_EQ(hexEncode(tether::packMidiMessage(hexDecode("F07D1000F7"))), "00000000"
                                                                           "04F07D10"
                                                                           "0600F700");
    EXPECT_EQ(hexEncode(tether::packMidiMessage(hexDecode("F07D10F7"))), "00000000"
                                                                         "04F07D10"
                                                                         "05F70000");
    Bytes longest = "\xF0" + Bytes(381, 0x01) + "\xF7";
    EXPECT_EQ(tether::packMidiMessage(longest).size(), 4u + 4u * 128u);
}

TEST(TetherMidiOut, EmptyOverlongAndUncarriedMessagesAreDropped) {
    EXPECT_TRUE(tether::packMidiMessage("").empty());
    EXPECT_TRUE(tether::packMidiMessage("\xF0" + Bytes(382, 1) + "\xF7").empty());
    EXPECT_TRUE(tether::packMidiMessage(hexDecode("3C64")).empty()); // no status byte
    EXPECT_TRUE(tether::packMidiMessage(hexDecode("F4")).empty());
}

namespace {

std::vector<std::pair<std::string, uint32_t>> readAll(tether::MidiPacketReader& reader,
                                                      const std::string& hexPayload) {
    std::vector<std::pair<std::string, uint32_t>> out;
    reader.read(hexDecode(hexPayload),
                [&](const Bytes& m, uint32_t stamp) { out.emplace_back(hexEncode(m), stamp); });
    return out;
}

} // namespace

TEST(TetherMidiIn, ShortMessagesByStatusAndTimeStampOfThePayload) {
    tether::MidiPacketReader reader;
    const auto got = readAll(reader, "0000ABCD"
                                     "09903C64"
                                     "0CC00500"
                                     "0FF80000"
                                     "02F31000");
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], (std::pair<std::string, uint32_t>{"903C64", 0xABCD}));
    EXPECT_EQ(got[1].first, "C005");
    EXPECT_EQ(got[2].first, "F8");
    EXPECT_EQ(got[3].first, "F310");
}

TEST(TetherMidiIn, SystemExclusiveIsCollectedPerCableAcrossPayloads) {
    tether::MidiPacketReader reader;
    EXPECT_TRUE(readAll(reader, "00000001"
                                "04F07D10"
                                "14F00102")
                    .empty());
    // Cable 1 ends first; a real-time byte in between passes straight through.
    auto got = readAll(reader, "00000002"
                               "0FF80000"
                               "1603F700"
                               "04000000");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].first, "F8");
    EXPECT_EQ(got[1].first, "F0010203F7");
    got = readAll(reader, "00000003"
                          "05F70000");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], (std::pair<std::string, uint32_t>{"F07D10000000F7", 3}));
}

TEST(TetherMidiIn, OverlongSystemExclusiveIsDroppedAndTheNextOneArrives) {
    tether::MidiPacketReader reader;
    std::string payload = "00000000";
    for (int i = 0; i < 200; ++i)
        payload += "04010203"; // 600 bytes
    payload += "05F70000";
    EXPECT_TRUE(readAll(reader, payload).empty());
    const auto got = readAll(reader, "00000000"
                                     "04F00102"
                                     "05F70000");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, "F00102F7");
    // A payload shorter than its time stamp, or with a partial packet, is harmless.
    EXPECT_TRUE(readAll(reader, "0000").empty());
    EXPECT_EQ(readAll(reader, "00000000"
                              "09903C64"
                              "0990")
                  .size(),
              1u);
}

TEST(TetherDeviceRecord, KeysInOrderAndReadBack) {
    TetherDevice d;
    d.address = "10.0.0.2";
    d.port = 5000;
    d.uid = "A-00000001";
    d.caps = 1;
    d.name = "Quote\" and \\ back";
    const std::string json = tetherDeviceJson(d);
    EXPECT_EQ(json.find("{\"TetherDeviceAddressKey\":\"10.0.0.2\",\"TetherDeviceCapsKey\":1,"
                        "\"TetherDeviceImageKey\":0,\"TetherDeviceManufacturerKey\":\"\","
                        "\"TetherDeviceNameKey\":"),
              0u);
    EXPECT_EQ(parseTetherDevice(json), d);
}

TEST(TetherDeviceRecord, NumbersTruncateExtraMembersPassAndBadShapesFail) {
    std::string json = tetherDeviceJson(TetherDevice{});
    json.insert(1, "\"Extra\":[1],");
    const auto at = json.find("\"TetherDevicePortNoKey\":0");
    json.replace(at, 25, "\"TetherDevicePortNoKey\":1.9");
    EXPECT_EQ(parseTetherDevice(json).port, 1);
    EXPECT_THROW(parseTetherDevice("[1,2]"), std::runtime_error);
    EXPECT_THROW(parseTetherDevice("not json"), std::runtime_error);
    std::string wrongType = tetherDeviceJson(TetherDevice{});
    wrongType.replace(wrongType.find("\"TetherDeviceUIDKey\":\"\""), 23,
                      "\"TetherDeviceUIDKey\":7");
    EXPECT_THROW(parseTetherDevice(wrongType), std::runtime_error);
    std::string huge = tetherDeviceJson(TetherDevice{});
    huge.replace(huge.find("\"TetherDeviceCapsKey\":0"), 23, "\"TetherDeviceCapsKey\":1e300");
    EXPECT_THROW(parseTetherDevice(huge), std::runtime_error);
}

TEST(ShellOutput, LineEndingsNulsAndSplitSequences) {
    net::ShellOutputDecoder d;
    EXPECT_EQ(d.decode("a\r\nb\r\n"), "a\nb\n");
    // A CRLF pair and a UTF-8 sequence split by the read boundary stay whole.
    EXPECT_EQ(d.decode("c\r"), "c");
    EXPECT_EQ(d.decode("\nd\xC3"), "\nd");
    EXPECT_EQ(d.decode("\xA9"), "\xC3\xA9");
    EXPECT_EQ(d.decode(std::string("x\0y", 3)), "xy");
    EXPECT_EQ(d.decode("lone\r"), "lone");
    EXPECT_EQ(d.finish(), "\r");
    EXPECT_EQ(d.decode("\xFF"), "\xEF\xBF\xBD");
    EXPECT_EQ(d.readSize(512), 512u);
    d.decode("\xE2\x82");
    EXPECT_EQ(d.readSize(512), 510u);
    EXPECT_EQ(d.finish(), "\xEF\xBF\xBD");
}
