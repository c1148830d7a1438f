// Key material derived from a passphrase and an optional 8-byte salt, laid
// out as D2 || D1 with D1 = MD5(passphrase || salt) and
// D2 = MD5(D1 || passphrase || salt). D1 is the 16-byte key and D2 the IV;
// for a salt this equals the key and IV of the enc tool's MD5 derivation.
#pragma once

#include "bridge/encoding.h"

#include <optional>
#include <string>
#include <string_view>

namespace kx5::security {

inline constexpr size_t kSaltSize = 8;
inline constexpr size_t kMaterialSize = 32;

// A salt shorter than 8 bytes is padded with zero bytes, a longer one cut;
// an empty salt appends nothing. Empty when a digest fails.
std::optional<Bytes> deriveKeyMaterial(std::string_view passphrase, std::string_view salt);

// "hex(D1)/hex(D2)", 65 characters.
std::string keyText(const Bytes& material);

// Key text of the built-in passphrase without salt; empty when it cannot be
// derived.
std::string defaultKeyText();

// The 32 unsalted material bytes of the built-in passphrase; empty when they
// cannot be derived.
std::optional<Bytes> protectionEntropy();

} // namespace kx5::security
