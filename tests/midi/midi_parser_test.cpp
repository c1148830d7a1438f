// The output stream parser: running status, exclusive messages split over
// calls, the 512-byte limit, real-time bytes inside other messages, stray bytes.
#include "midi/midi_stream_parser.h"
#include "midi_test_support.h"

#include <gtest/gtest.h>

using namespace kx5;
using kx5::test::bytesOf;

namespace {

struct Sent {
    std::vector<uint8_t> bytes;
    bool exclusive;
    bool operator==(const Sent&) const = default;
};

struct Parser : ::testing::Test {
    MidiStreamParser parser;
    std::vector<Sent> sent;
    void feed(const std::vector<uint8_t>& bytes) {
        parser.parse(bytes.data(), bytes.size(), [&](const uint8_t* b, size_t n, bool ex) {
            sent.push_back({{b, b + n}, ex});
        });
    }
};

} // namespace

TEST_F(Parser, ExclusiveSplitOverCallsIsOneMessage) {
    feed(bytesOf({0xF0, 0x7D, 0x01}));
    EXPECT_TRUE(sent.empty());
    feed(bytesOf({0x02, 0xF7}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Sent{bytesOf({0xF0, 0x7D, 0x01, 0x02, 0xF7}), true}));

    // F0 alone, then F7 alone: the two-byte exclusive message.
    sent.clear();
    feed(bytesOf({0xF0}));
    feed(bytesOf({0xF7}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Sent{bytesOf({0xF0, 0xF7}), true}));
}

TEST_F(Parser, RunningStatusAcrossMessagesAndCalls) {
    feed(bytesOf({0x90, 0x3C, 0x7F, 0x3C, 0x00}));
    feed(bytesOf({0x3E, 0x40}));
    feed(bytesOf({0xC5, 0x01, 0x02}));
    const std::vector<Sent> expected = {{bytesOf({0x90, 0x3C, 0x7F}), false},
                                        {bytesOf({0x90, 0x3C, 0x00}), false},
                                        {bytesOf({0x90, 0x3E, 0x40}), false},
                                        {bytesOf({0xC5, 0x01}), false},
                                        {bytesOf({0xC5, 0x02}), false}};
    EXPECT_EQ(sent, expected);
}

TEST_F(Parser, SystemCommonKeepsRunningStatusAndExclusiveEndsIt) {
    feed(bytesOf({0xB0, 0x07, 0x64, 0xF2, 0x01, 0x02, 0x07, 0x10, 0xF3, 0x05}));
    const std::vector<Sent> expected = {{bytesOf({0xB0, 0x07, 0x64}), false},
                                        {bytesOf({0xF2, 0x01, 0x02}), false},
                                        {bytesOf({0xB0, 0x07, 0x10}), false},
                                        {bytesOf({0xF3, 0x05}), false}};
    EXPECT_EQ(sent, expected);
    sent.clear();
    // After an exclusive message there is no running status any more.
    feed(bytesOf({0xF0, 0x01, 0xF7, 0x3C, 0x00}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].exclusive);
}

TEST_F(Parser, StrayBytesDeliverNothing) {
    feed(bytesOf({0xF7}));
    feed(bytesOf({0x10, 0x20, 0x30}));
    feed(bytesOf({0xF4, 0xF5, 0xF9, 0xFD}));
    feed(bytesOf({0xF4, 0x01, 0x02}));
    EXPECT_TRUE(sent.empty());
}

TEST_F(Parser, LongExclusiveIsCutTo512Bytes) {
    std::vector<uint8_t> message{0xF0};
    for (int i = 0; i < 598; ++i)
        message.push_back(static_cast<uint8_t>(i & 0x7F));
    message.push_back(0xF7);
    ASSERT_EQ(message.size(), 600u);
    feed(message);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].bytes.size(), 512u);
    EXPECT_TRUE(sent[0].exclusive);
    EXPECT_EQ(sent[0].bytes.front(), 0xF0);
    EXPECT_EQ(sent[0].bytes.back(), 0xF7);
    EXPECT_TRUE(
        std::equal(sent[0].bytes.begin() + 1, sent[0].bytes.end() - 1, message.begin() + 1));

    // Exactly 512 bytes pass unchanged; the parser's buffer is reused.
    sent.clear();
    std::vector<uint8_t> exact(message.begin(), message.begin() + 511);
    exact.push_back(0xF7);
    feed(exact);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, exact);
}

TEST_F(Parser, RealTimeBytesGoOutInsideOtherMessages) {
    feed(bytesOf({0xF0, 0x7D, 0xF8, 0x01, 0xFE, 0xF7}));
    const std::vector<Sent> expected = {{bytesOf({0xF8}), false},
                                        {bytesOf({0xFE}), false},
                                        {bytesOf({0xF0, 0x7D, 0x01, 0xF7}), true}};
    EXPECT_EQ(sent, expected);

    sent.clear();
    feed(bytesOf({0x90, 0x3C, 0xF8, 0x7F}));
    const std::vector<Sent> note = {{bytesOf({0xF8}), false}, {bytesOf({0x90, 0x3C, 0x7F}), false}};
    EXPECT_EQ(sent, note);
}

TEST_F(Parser, TruncatedMessageWaitsForTheNextCall) {
    feed(bytesOf({0x90, 0x3C}));
    EXPECT_TRUE(sent.empty());
    feed(bytesOf({0x7F}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, bytesOf({0x90, 0x3C, 0x7F}));

    // A new status abandons the unfinished message.
    sent.clear();
    feed(bytesOf({0xE0, 0x01}));
    feed(bytesOf({0xC0, 0x05}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, bytesOf({0xC0, 0x05}));
}

TEST_F(Parser, StatusInsideExclusiveAbandonsIt) {
    feed(bytesOf({0xF0, 0x7D, 0x01, 0x90, 0x3C, 0x7F, 0xF7}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Sent{bytesOf({0x90, 0x3C, 0x7F}), false}));
    // A second F0 restarts the collection.
    sent.clear();
    feed(bytesOf({0xF0, 0x01, 0x02, 0xF0, 0x03, 0xF7}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, bytesOf({0xF0, 0x03, 0xF7}));
}
