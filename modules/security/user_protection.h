// Texts protected for the current user: only someone who can read the user's
// master key file can recover them. A blob is
//   version (1 byte) || nonce (12) || AES-256-GCM ciphertext || tag (16)
// with the version byte and the caller's entropy authenticated alongside.
#pragma once

#include "bridge/encoding.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kx5::security {

inline constexpr unsigned char kProtectionVersion = 1;
inline constexpr size_t kNonceSize = 12;
inline constexpr size_t kTagSize = 16;

// The master key file is there but cannot be used (cut, grown, not a file,
// another user's): every text protected with it is lost. It is never
// replaced behind the user's back; protection stops until it is moved away.
class DamagedKeyFile : public std::runtime_error {
  public:
    DamagedKeyFile(std::string path, std::string problem)
        : std::runtime_error(path + ": " + problem), path_(std::move(path)),
          problem_(std::move(problem)) {}
    const std::string& path() const { return path_; }
    const std::string& problem() const { return problem_; }

  private:
    std::string path_;
    std::string problem_;
};

class UserProtection {
  public:
    // `folder` (ending in "/") holds the master key file; empty disables
    // protection.
    explicit UserProtection(std::string folder) : folder_(std::move(folder)) {}

    // Creates the master key on first use. Empty on failure; DamagedKeyFile
    // when the key file is damaged.
    std::optional<Bytes> protect(std::string_view plain, std::string_view entropy) const;
    // Empty for a blob that was altered, cut, made with other entropy or by
    // another user's key, and when there is no key; DamagedKeyFile when the
    // key file is damaged.
    std::optional<Bytes> unprotect(std::string_view blob, std::string_view entropy) const;

  private:
    std::string folder_;
};

} // namespace kx5::security
