#include "modules/security/builtin_passphrase.h"

#include <array>
#include <cstdint>

namespace kx5::security {
namespace {

constexpr unsigned char maskAt(size_t i) {
    uint32_t x = 0x9E3779B9u * static_cast<uint32_t>(i + 1);
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    return static_cast<unsigned char>(x >> 7);
}

// Only the masked bytes reach the executable: the literal is consumed during
// compilation.
template <size_t N> consteval std::array<unsigned char, N - 1> masked(const char (&text)[N]) {
    static_assert(N - 1 <= kMaxPassphraseSize);
    std::array<unsigned char, N - 1> out{};
    for (size_t i = 0; i + 1 < N; ++i)
        out[i] = static_cast<unsigned char>(text[i]) ^ maskAt(i);
    return out;
}

constexpr auto kMasked = masked("kX5:vL7#qR2!mT9@wZ4$hB6%");

} // namespace

std::string builtInPassphrase() {
    // Volatile reads keep the optimiser from folding the plain bytes into
    // the code as constants.
    const volatile unsigned char* bytes = kMasked.data();
    std::string out;
    out.reserve(kMasked.size());
    for (size_t i = 0; i < kMasked.size(); ++i) {
        const char c = static_cast<char>(bytes[i] ^ maskAt(i));
        if (c == '\0') break;
        out.push_back(c);
    }
    return out;
}

} // namespace kx5::security
