#include "tests/security/security_test_support.h"

#include <gtest/gtest.h>

using namespace kx5;
using namespace kx5::test;

namespace {

// NIST SP 800-38A F.2.1, AES-128 CBC.
const std::string kAesKey = "2B7E151628AED2A6ABF7158809CF4F3C";
const std::string kAesIv = "000102030405060708090A0B0C0D0E0F";
const std::string kAesPlain = "6BC1BEE22E409F96E93D7E117393172AAE2D8A571E03AC9C9EB76FAC45AF8E51"
                              "30C81C46A35CE411E5FBC1191A0A52EFF69F2445DF4F9B17AD2B417BE66C3710";
const std::string kAesCipher = "7649ABAC8119B246CEE98E9B12E9197D5086CB9B507219EE95DB113A917678B2"
                               "73BED6B8E3C1743B7116E69E222295163FF1CAA1681FAC09120ECA307586E1A7";

// NIST SP 800-67 example, three-key triple DES (ECB): "The qufck brown fox jump".
const std::string kDesKey = "0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123";
const std::string kDesPlain = "5468652071756663"
                              "6B2062726F776E20"
                              "666F78206A756D70";
const std::string kDesCipher = "A826FD8CE53B855F"
                               "CCE21C8112256FE6"
                               "68D5C05DD9B6B900";

} // namespace

TEST(SecurityCiphers, AesKnownAnswersAndPadding) {
    TempDir tmp;
    SecurityCalls call(tmp.path());
    const std::string keyText = kAesKey + "/" + kAesIv;
    const std::string out = call("aesencrypt", {kAesPlain, keyText});
    // Four data blocks, then one block of padding.
    ASSERT_EQ(out.size(), 1 + 2 * 80u);
    EXPECT_EQ(out.substr(1, kAesCipher.size()), kAesCipher);
    EXPECT_EQ(call("aesdecrypt", {out.substr(1), keyText}), "s" + kAesPlain);
    // Lower-case hex is the same key and data.
    std::string lower = keyText;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(call("aesencrypt", {kAesPlain, lower}), out);

    // 16 bytes become 32 and come back.
    const std::string block = "00112233445566778899AABBCCDDEEFF";
    const std::string two = call("aesencrypt", {block, keyText});
    ASSERT_EQ(two.size(), 65u);
    EXPECT_EQ(call("aesdecrypt", {two.substr(1), keyText}), "s" + block);
    // Odd lengths pad to the next block.
    EXPECT_EQ(call("aesencrypt", {"01", keyText}).size(), 33u);
    EXPECT_EQ(call("aesdecrypt", {call("aesencrypt", {"01", keyText}).substr(1), keyText}), "s01");
}

TEST(SecurityCiphers, AesKeyTextForms) {
    TempDir tmp;
    SecurityCalls call(tmp.path());
    // FIPS-197 C.1: without "/" the IV is zero, so the first CBC block is the
    // plain block cipher output.
    const std::string fipsKey = "000102030405060708090A0B0C0D0E0F";
    const std::string fipsPlain = "00112233445566778899AABBCCDDEEFF";
    const std::string noIv = call("aesencrypt", {fipsPlain, fipsKey});
    EXPECT_EQ(noIv.substr(1, 32), "69C4E0D86A7B0430D8CDB78070B4C55A");
    EXPECT_EQ(call("aesencrypt", {fipsPlain, fipsKey + "/"}), noIv);
    EXPECT_EQ(call("aesencrypt", {fipsPlain, fipsKey + "/" + std::string(32, '0')}), noIv);
    EXPECT_EQ(call("aesdecrypt", {noIv.substr(1), fipsKey}), "s" + fipsPlain);

    // Longer keys and IVs are cut to what the cipher reads; shorter keys are
    // padded with zeros.
    const std::string full = call("aesencrypt", {fipsPlain, kAesKey + "/" + kAesIv});
    EXPECT_EQ(call("aesencrypt", {fipsPlain, kAesKey + "DEADBEEF/" + kAesIv + "CAFE"}), full);
    EXPECT_EQ(call("aesencrypt", {fipsPlain, "0102"}),
              call("aesencrypt", {fipsPlain, "01020000000000000000000000000000"}));

    // An empty key argument means the default key, like no argument.
    EXPECT_EQ(call("aesencrypt", {fipsPlain, ""}), call("aesencrypt", {fipsPlain}));
    EXPECT_EQ(call("aesdecrypt", {call("aesencrypt", {fipsPlain}).substr(1)}), "s" + fipsPlain);
}

TEST(SecurityCiphers, AesFailuresAnswerEmpty) {
    TempDir tmp;
    SecurityCalls call(tmp.path());
    const std::string keyText = kAesKey + "/" + kAesIv;
    const std::string data = "00112233445566778899AABBCCDDEEFF";
    const std::string cipher = call("aesencrypt", {data, keyText}).substr(1);
    EXPECT_EQ(call("aesdecrypt", {cipher, "000102030405060708090A0B0C0D0E0F/" + kAesIv}), "s");
    std::string corrupted = cipher;
    corrupted[40] = corrupted[40] == '0' ? '1' : '0'; // in the padding block
    EXPECT_EQ(call("aesdecrypt", {corrupted, keyText}), "s");
    EXPECT_EQ(call("aesdecrypt", {cipher.substr(0, 62), keyText}), "s"); // not whole blocks
    EXPECT_EQ(call("aesdecrypt", {cipher.substr(0, 32), keyText}), "s"); // padding cut off
    for (const char* fn : {"aesencrypt", "aesdecrypt", "desencrypt", "desdecrypt"}) {
        EXPECT_EQ(call(fn, {"", keyText}), "s") << fn;
        EXPECT_EQ(call(fn), "s") << fn;
    }
}

TEST(SecurityCiphers, TripleDesKnownAnswersAndKeyPadding) {
    TempDir tmp;
    SecurityCalls call(tmp.path());
    const std::string out = call("desencrypt", {kDesPlain, kDesKey});
    ASSERT_EQ(out.size(), 1 + 2 * 32u);
    EXPECT_EQ(out.substr(1, kDesCipher.size()), kDesCipher);
    EXPECT_EQ(call("desdecrypt", {out.substr(1), kDesKey}), "s" + kDesPlain);
    // ECB takes no IV.
    EXPECT_EQ(call("desencrypt", {kDesPlain, kDesKey + "/0102030405060708"}), out);

    // A 16-byte key gets 8 zero bytes as its third part, not its first part
    // again.
    const std::string k1k2 = kDesKey.substr(0, 32);
    const std::string sixteen = call("desencrypt", {kDesPlain, k1k2});
    EXPECT_EQ(sixteen, call("desencrypt", {kDesPlain, k1k2 + std::string(16, '0')}));
    EXPECT_NE(sixteen, call("desencrypt", {kDesPlain, k1k2 + kDesKey.substr(0, 16)}));
    EXPECT_EQ(call("desdecrypt", {sixteen.substr(1), k1k2}), "s" + kDesPlain);

    EXPECT_EQ(call("desdecrypt", {out.substr(1, 62), kDesKey}), "s");
    EXPECT_EQ(call("desdecrypt", {out.substr(1), k1k2}), "s");
    // Default key round trip.
    EXPECT_EQ(call("desdecrypt", {call("desencrypt", {"CAFE"}).substr(1)}), "sCAFE");
}
