#include "sim/address_map.h"
#include "sim/sim_options.h"
#include "sim/sysex_codec.h"

#include <gtest/gtest.h>

using namespace kx5::sim;

TEST(SimCodec, PackingChecksumAndFrames) {
    EXPECT_EQ(nibble(0x7F7F7F7F), 0x0FFFFFFFu);
    EXPECT_EQ(sevenBitize(nibble(0x31300170)), 0x31300170u);
    EXPECT_EQ(sevenBitize(nibble(0x2000007F) + 1), 0x20000100u);
    const Bytes roland{0x40, 0x00, 0x7F, 0x00};
    EXPECT_EQ(checksum(roland.data(), roland.size()), 0x41);

    const ModelIdentity id{0x7D, {0x00, 0x4B, 0x05}};
    const uint8_t data[] = {0x01};
    const Bytes dt1 = dt1Frame(id, 0x10, nibble(0x7F000001), data, 1);
    EXPECT_EQ(hexText(dt1), "F07D10004B05127F000001017FF7");
    auto m = parseMakerMessage(dt1, id);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->command, kCommandDt1);
    EXPECT_EQ(m->address, nibble(0x7F000001));
    EXPECT_EQ(m->data, Bytes{0x01});
    EXPECT_TRUE(m->checksumOk);

    auto rq1 = parseMakerMessage(*parseHex("F07D10004B05113110000000000004"
                                           "3B"
                                           "F7"),
                                 id);
    ASSERT_TRUE(rq1);
    EXPECT_EQ(rq1->size, 4u);
    EXPECT_TRUE(rq1->checksumOk);
    EXPECT_FALSE(parseMakerMessage(*parseHex("F07D10004B06113110000000000004"
                                             "3B"
                                             "F7"),
                                   id))
        << "other model";
    EXPECT_FALSE(parseMakerMessage(*parseHex("F07D10004B05133110000000000004"
                                             "3B"
                                             "F7"),
                                   id))
        << "other command";
    EXPECT_FALSE(parseMakerMessage(*parseHex("F07D10004B051131100000000000"
                                             "3B"
                                             "F7"),
                                   id))
        << "short RQ1";
    EXPECT_FALSE(parseMakerMessage(*parseHex("F07D10004B05123180000001"
                                             "3B"
                                             "F7"),
                                   id))
        << "8-bit byte";
    EXPECT_FALSE(parseMakerMessage(*parseHex("F07D10004B0512"), id));

    const uint8_t version[4] = {0, 1, 0, 0};
    EXPECT_EQ(hexText(identityReply(id, 0x10, version)), "F07E1006027D0502000000010000F7");
    EXPECT_EQ(hexText(identityReply({0x7D, {0x01, 0x4B, 0x05}}, 0x11, version)),
              "F07E1106027D054B000000010000F7");
    EXPECT_TRUE(isIdentityRequest(*parseHex("F07E7F0601F7")));
    EXPECT_FALSE(isIdentityRequest(*parseHex("F07E7F0602F7")));
    EXPECT_FALSE(parseHex("0G"));
    EXPECT_FALSE(parseHex("123"));
}

TEST(SimAddressMap, BuiltInLayout) {
    const AddressMap& map = AddressMap::builtIn();
    EXPECT_EQ(map.product(), "KX-5");
    EXPECT_EQ(map.identity().manufacturerId, 0x7D);
    EXPECT_EQ(map.deviceId(), 0x10);
    for (int k = 0; k < 11; ++k) {
        const std::string slot = "IRDATA(" + std::to_string(k + 1) + ")%";
        const uint32_t base = nibble(0x31000000) + static_cast<uint32_t>(k) * nibble(0x01000000);
        ASSERT_NE(map.find(slot + "DATA"), nullptr);
        EXPECT_EQ(map.find(slot + "NAME")->address, base);
        EXPECT_EQ(map.find(slot + "NAME")->size, 32u);
        EXPECT_EQ(map.find(slot + "SIZE")->address, base + nibble(0x00100000));
        EXPECT_EQ(map.find(slot + "FILE")->size, 256u);
        EXPECT_EQ(map.find(slot + "DATA")->size, 3354u * 8);
        EXPECT_EQ(map.find(slot + "FILE")->initial.size(), 256u);
    }
    const BlockDef* memo = map.find("PATCH(2)%MEMO");
    ASSERT_NE(memo, nullptr);
    EXPECT_TRUE(memo->variable);
    EXPECT_EQ(memo->size, 260u);
    EXPECT_EQ(memo->initial, Bytes(4, 0));
    // Power-up values: tuner reference 440 Hz stored as 5, RX channel 1 as 0,
    // file-name bytes as spaces (0x20 as two digits).
    EXPECT_EQ(map.find("SYSTEM%COMMON")->initial.at(5), 5);
    EXPECT_EQ(map.find("SYSTEM%MIDI")->initial.at(0), 0);
    EXPECT_EQ(map.find("IRDATA(3)%FILE")->initial.at(0), 2);
    EXPECT_EQ(map.find("IRDATA(3)%FILE")->initial.at(1), 0);

    const BlockDef* size = map.find("IRDATA(1)%SIZE");
    EXPECT_TRUE(map.locate(size->address + 3));
    EXPECT_EQ(map.blocks()[*map.locate(size->address + 3)].id, "IRDATA(1)%SIZE");
    EXPECT_FALSE(map.locate(size->address + 4));
    EXPECT_FALSE(map.locate(nibble(0x7F000000)));
    for (size_t i = 1; i < map.blocks().size(); ++i)
        EXPECT_LE(map.blocks()[i - 1].address + map.blocks()[i - 1].size, map.blocks()[i].address);
}

TEST(SimAddressMap, BadDefinitionsAreRefusedWithAReason) {
    auto error = [](const std::string& json) {
        try {
            AddressMap::parse(json);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    const std::string head = R"({"manufacturerId":"7D","modelId":"004B05",)";
    EXPECT_NE(error("{").find("address map"), std::string::npos);
    EXPECT_NE(error(head + R"("x":1})").find("areas"), std::string::npos);
    EXPECT_NE(error(head + R"("areas":[{"name":"A","address":"80000000","blocks":[]}]})")
                  .find("below 80"),
              std::string::npos);
    EXPECT_NE(
        error(
            head +
            R"("areas":[{"name":"A","address":"00000000","blocks":[{"name":"B","address":"00000000","params":[{"name":"P","type":"3x3"}]}]}]})")
            .find("unknown type"),
        std::string::npos);
    EXPECT_NE(
        error(
            head +
            R"("areas":[{"name":"A","address":"00000000","blocks":[{"name":"B","address":"00000000","params":[{"name":"P","type":"text","length":8}]},{"name":"C","address":"00000004","params":[{"name":"Q","type":"1x7"}]}]}]})")
            .find("overlaps"),
        std::string::npos);
    EXPECT_NE(error(head + R"("areas":[{"name":"A","address":"00000000","template":"none"}]})")
                  .find("unknown template"),
              std::string::npos);
    EXPECT_NE(error(R"({"manufacturerId":"FF","modelId":"00","areas":[]})").find("7-bit"),
              std::string::npos);
}

TEST(SimOptionsParsing, ValuesAndErrors) {
    std::string error;
    auto o =
        parseSimOptions({"--api", "jack", "--name", "X", "--level", "2", "--running-mode", "04",
                         "--device-id", "11", "--baud", "0", "--reply-delay", "300", "--no-reply",
                         "--wrong-checksum", "--wrong-device", "--identity-only", "--verbose"},
                        error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->api, "jack");
    EXPECT_EQ(o->unit.communicationLevel, 2);
    EXPECT_EQ(o->unit.runningMode, 4);
    EXPECT_EQ(o->unit.deviceId, 0x11);
    EXPECT_EQ(o->unit.inputBitsPerSecond, 0);
    EXPECT_EQ(o->replyDelayMs, 300);
    EXPECT_TRUE(o->unit.noReply && o->unit.wrongChecksum && o->unit.wrongDevice &&
                o->unit.identityOnly && o->verbose);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--api", "oss"},
                                         {"--level"},
                                         {"--level", "x"},
                                         {"--device-id", "80"},
                                         {"--baud", "-1"},
                                         {"--what"},
                                         {"--name", ""}}) {
        EXPECT_FALSE(parseSimOptions(bad, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}
