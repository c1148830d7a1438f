#include "bridge/encoding.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace kx5;

TEST(Hex, EncodeIsUpperCaseTwoDigitsPerByte) {
    EXPECT_EQ(hexEncode(std::string("\x00\xAB\xFF", 3)), "00ABFF");
    EXPECT_EQ(hexEncode("abc"), "616263");
    EXPECT_EQ(hexEncode(""), "");
}

TEST(Hex, DecodeIgnoresOddDigitAndMapsNonDigitsToZero) {
    EXPECT_EQ(hexDecode("616263"), "abc");
    EXPECT_EQ(hexDecode("616263F"), "abc");
    EXPECT_EQ(hexDecode("6G"), std::string("\x60", 1));
    EXPECT_EQ(hexDecode("ab"), hexDecode("AB"));
    EXPECT_EQ(hexDecode(""), "");
    EXPECT_EQ(hexDecodeOptional(std::nullopt), "");
    // A pair starting with NUL ends the input.
    EXPECT_EQ(hexDecode(std::string("41\0"
                                    "042",
                                    6)),
              "A");
    // Round trip of every byte value.
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    EXPECT_EQ(hexDecode(hexEncode(all)), all);
}

TEST(Utf8, ValidTextPassesAndInvalidBecomesReplacement) {
    EXPECT_EQ(fromUtf8("\xE2\x82\xAC"), "\xE2\x82\xAC");
    EXPECT_EQ(toUtf8("\xE2\x82\xAC"), "\xE2\x82\xAC");
    EXPECT_EQ(fromUtf8("a\xFF"
                       "b"),
              "a\xEF\xBF\xBD"
              "b");
    // A truncated sequence is one replacement, then the next character.
    EXPECT_EQ(fromUtf8("\xE2\x82"
                       "A"),
              "\xEF\xBF\xBD"
              "A");
    // An encoded surrogate and an overlong form are ill-formed.
    EXPECT_EQ(fromUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(fromUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    // Four-byte characters are fine in this direction.
    EXPECT_EQ(fromUtf8("\xF0\x9F\x8E\xB8"), "\xF0\x9F\x8E\xB8");
    // Both stop at NUL.
    EXPECT_EQ(toUtf8(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(fromUtf8(std::string("\0x", 2)), "");
}

TEST(Flag, FollowsTheLetterAndDigitRule) {
    for (const char* t : {"true", "yes", "Y", "1", "10", "t", "on the way", "9"})
        EXPECT_TRUE(parseFlag(t)) << t;
    for (const char* f : {"false", "no", "0", "", "undefined", "off", "null", "NaN", "ON"})
        EXPECT_FALSE(parseFlag(f)) << f;
    // The dot of the pattern matches no line terminator.
    EXPECT_FALSE(parseFlag("true\n"));
    EXPECT_FALSE(parseFlag("\rtrue"));
    EXPECT_FALSE(parseFlag("true\xE2\x80\xA8"));
    EXPECT_TRUE(parseFlag("true\xE2\x80\xA7"));
}

TEST(Numbers, StandardConversionsAndTheirErrors) {
    EXPECT_EQ(toInt(" 42abc"), 42);
    EXPECT_EQ(toInt("-7"), -7);
    EXPECT_THROW(toInt("abc"), std::invalid_argument);
    EXPECT_THROW(toInt("99999999999"), std::out_of_range);
    EXPECT_DOUBLE_EQ(toReal(" 0.5x"), 0.5);
    EXPECT_THROW(toReal("x"), std::invalid_argument);
    EXPECT_THROW(toReal("1e999"), std::out_of_range);
}

TEST(PercentDecode, EscapesPlusAndStrictUtf8) {
    EXPECT_EQ(percentDecode("/C:/My%20Files/a+b.txt"), "/C:/My Files/a b.txt");
    EXPECT_EQ(percentDecode("%C3%A9"), "\xC3\xA9");
    EXPECT_THROW(percentDecode("%E9"), std::range_error);
    // Outside the BMP fails, as the decoder yields one unit per character.
    EXPECT_THROW(percentDecode("%F0%9F%8E%B8"), std::range_error);
    // Truncated escapes never read past the end.
    EXPECT_NO_THROW(percentDecode("abc%"));
    EXPECT_NO_THROW(percentDecode("abc%4"));
    EXPECT_EQ(percentDecode("%4"), "%4");
}
