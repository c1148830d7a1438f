// MD5 digests of bytes and of files.
#pragma once

#include "bridge/encoding.h"

#include <optional>
#include <string>
#include <string_view>

namespace kx5::security {

inline constexpr size_t kMd5Size = 16;

// Digest of several pieces taken as one message; empty on a library failure.
std::optional<Bytes> md5(std::initializer_list<std::string_view> pieces);
inline std::optional<Bytes> md5(std::string_view data) {
    return md5({data});
}

// Digest of a file's whole content; empty when it cannot be opened or read.
std::optional<Bytes> md5OfFile(const std::string& path);

} // namespace kx5::security
