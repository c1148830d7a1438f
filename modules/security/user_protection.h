// Texts protected for the current user: only someone who can read the user's
// master key file can recover them. A blob is
//   version (1 byte) || nonce (12) || AES-256-GCM ciphertext || tag (16)
// with the version byte and the caller's entropy authenticated alongside.
#pragma once

#include "bridge/encoding.h"

#include <optional>
#include <string>
#include <string_view>

namespace kx5::security {

inline constexpr unsigned char kProtectionVersion = 1;
inline constexpr size_t kNonceSize = 12;
inline constexpr size_t kTagSize = 16;

class UserProtection {
  public:
    // `folder` (ending in "/") holds the master key file; empty disables
    // protection.
    explicit UserProtection(std::string folder) : folder_(std::move(folder)) {}

    // Creates the master key on first use. Empty on failure.
    std::optional<Bytes> protect(std::string_view plain, std::string_view entropy) const;
    // Empty for a blob that was altered, cut, made with other entropy or by
    // another user's key, and when there is no key.
    std::optional<Bytes> unprotect(std::string_view blob, std::string_view entropy) const;

  private:
    std::string folder_;
};

} // namespace kx5::security
