// The two block ciphers the page uses with explicit or default keys:
// AES-128 in CBC mode and three-key triple DES in ECB mode, both with
// PKCS#7 padding.
#pragma once

#include "bridge/encoding.h"

#include <optional>
#include <string_view>

namespace kx5::security {

enum class BlockCipher { Aes128Cbc, TripleDesEcb };

struct CipherKey {
    Bytes key; // hex bytes before the first "/"
    Bytes iv;  // hex bytes after it; empty means all zeros
};

// Splits "hexkey[/hexiv]".
CipherKey parseKeyText(std::string_view keyText);

// Key and IV are zero-padded (or cut) to the cipher's sizes: 16 or 24 key
// bytes, one block of IV. So a 16-byte triple DES key gets 8 zero bytes as its
// third part (not a repeat of the first, as two-key triple DES would have).
// Empty on empty data and on any failure, including bad padding on decrypt.
std::optional<Bytes> encryptBlocks(BlockCipher cipher, const CipherKey& key, std::string_view data);
std::optional<Bytes> decryptBlocks(BlockCipher cipher, const CipherKey& key, std::string_view data);

} // namespace kx5::security
