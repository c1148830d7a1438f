// The per-user master key of the protected texts: 32 random bytes in a file
// only its owner may read.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace kx5::security {

inline constexpr size_t kMasterKeySize = 32;
inline constexpr const char* kMasterKeyFileName = "master.key";

// Key bytes that are wiped when they go away.
class MasterKey {
  public:
    MasterKey() = default;
    ~MasterKey();
    MasterKey(const MasterKey& other) = default;
    MasterKey& operator=(const MasterKey& other) = default;
    unsigned char* data() { return bytes_.data(); }
    const unsigned char* data() const { return bytes_.data(); }

  private:
    std::array<unsigned char, kMasterKeySize> bytes_{};
};

enum class KeyFileStatus {
    Loaded,
    Missing,
    Unusable, // not a regular file of ours, wrong size, unreadable
};

struct KeyFileResult {
    KeyFileStatus status = KeyFileStatus::Missing;
    std::optional<MasterKey> key;
    // What is wrong with an unusable file ("it holds 33 bytes, not 32").
    std::string problem;
};

// Reads the key file in `folder` (ending in "/"). A key file that others may
// read is made private again.
KeyFileResult readMasterKey(const std::string& folder);

// Reads the key, or creates it when there is none: written in full to a 0600
// temporary file and then linked into place, so no reader ever sees a partial
// key and a concurrently created key wins over ours. An unusable file is never
// replaced (texts protected with it would be lost): it is answered as it is.
KeyFileResult loadOrCreateMasterKey(const std::string& folder);

} // namespace kx5::security
