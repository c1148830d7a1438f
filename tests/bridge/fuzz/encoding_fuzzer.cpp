// libFuzzer target for the hex and UTF-8 decoders: any text decodes without
// failing, what they produce is well formed, and encoding round trips.
#include "bridge/encoding.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

// An independent check of well-formed UTF-8 (Unicode table 3-7).
bool isWellFormedUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = s[i];
        size_t n = 0;
        unsigned lo = 0x80, hi = 0xBF;
        if (b < 0x80)
            n = 1;
        else if (b >= 0xC2 && b <= 0xDF)
            n = 2;
        else if (b >= 0xE0 && b <= 0xEF) {
            n = 3;
            lo = b == 0xE0 ? 0xA0 : 0x80;
            hi = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            n = 4;
            lo = b == 0xF0 ? 0x90 : 0x80;
            hi = b == 0xF4 ? 0x8F : 0xBF;
        } else
            return false;
        if (i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            const unsigned c = static_cast<unsigned char>(s[i + k]);
            if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) return false;
        }
        i += n;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    const kx5::Bytes bytes = kx5::hexDecode(input);
    const size_t nul = input.find('\0');
    if (bytes.size() > input.size() / 2) std::abort();
    if (nul == std::string::npos && bytes.size() != input.size() / 2) std::abort();
    const std::string hex = kx5::hexEncode(input);
    if (hex.size() != 2 * input.size() || kx5::hexDecode(hex) != input) std::abort();
    if (hex.find_first_not_of("0123456789ABCDEF") != std::string::npos) std::abort();

    for (const std::string& text : {kx5::fromUtf8(input), kx5::toUtf8(input)}) {
        if (!isWellFormedUtf8(text) || text.find('\0') != std::string::npos) std::abort();
        if (kx5::fromUtf8(text) != text) std::abort();
    }
    const std::string whole = kx5::wellFormedUtf8(input);
    if (!isWellFormedUtf8(whole)) std::abort();
    if (isWellFormedUtf8(input) != (whole == input)) std::abort();
    if (kx5::fromUtf8(whole) != kx5::fromUtf8(input)) std::abort();

    kx5::parseFlag(input);
    try {
        const std::string path = kx5::percentDecode(input);
        if (!isWellFormedUtf8(path)) std::abort();
    } catch (const std::range_error&) {
    }
    return 0;
}
