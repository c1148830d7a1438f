// The program's fixed passphrase: the default cipher key, the salted script
// keys and the protection entropy all derive from it, so changing it makes
// every file enciphered by an earlier build unreadable.
#pragma once

#include <string>

namespace kx5::security {

inline constexpr size_t kMaxPassphraseSize = 24;

// Up to 24 non-zero bytes, assembled on each call so that the plain text
// never sits in the executable's data.
std::string builtInPassphrase();

} // namespace kx5::security
