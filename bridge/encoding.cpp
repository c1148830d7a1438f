#include "bridge/encoding.h"

#include <picojson.h>

#include <cstdlib>
#include <stdexcept>

namespace kx5 {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at s[i], or 0 when ill-formed
// (the rules of Unicode table 3-7: no overlongs, no surrogates, <= U+10FFFF).
size_t wellFormedLength(std::string_view s, size_t i) {
    auto at = [&](size_t k) -> unsigned { return static_cast<unsigned char>(s[k]); };
    const unsigned b0 = at(i);
    const size_t left = s.size() - i;
    if (b0 < 0x80) return 1;
    auto cont = [&](size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
        return i + k < s.size() && at(i + k) >= lo && at(i + k) <= hi;
    };
    if (b0 >= 0xC2 && b0 <= 0xDF) return left >= 2 && cont(1) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80;
        unsigned hi = b0 == 0xED ? 0x9F : 0xBF;
        return cont(1, lo, hi) && cont(2) ? 3 : 0;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        unsigned lo = b0 == 0xF0 ? 0x90 : 0x80;
        unsigned hi = b0 == 0xF4 ? 0x8F : 0xBF;
        return cont(1, lo, hi) && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

// Length of the maximal ill-formed prefix to replace by one U+FFFD (the
// "maximal subpart" practice, as the system converters do).
size_t illFormedLength(std::string_view s, size_t i) {
    auto at = [&](size_t k) -> unsigned { return static_cast<unsigned char>(s[k]); };
    const unsigned b0 = at(i);
    size_t need = 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        need = 1;
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;
        hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;
    } else
        return 1;
    size_t n = 1;
    for (size_t k = 1; k <= need && i + k < s.size(); ++k) {
        unsigned b = at(i + k);
        unsigned l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
        if (b < l || b > h) break;
        ++n;
    }
    return n;
}

std::string sanitizeUtf8(std::string_view in, bool stopAtNul) {
    const size_t nul = stopAtNul ? in.find('\0') : std::string_view::npos;
    if (nul != std::string_view::npos) in = in.substr(0, nul);
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        size_t n = wellFormedLength(in, i);
        if (n) {
            out.append(in.substr(i, n));
            i += n;
        } else {
            out.append(kReplacement);
            i += illFormedLength(in, i);
        }
    }
    return out;
}

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

bool isLineTerminator(std::string_view s, size_t i, size_t& len) {
    const unsigned char c = s[i];
    if (c == '\n' || c == '\r') {
        len = 1;
        return true;
    }
    // U+2028 and U+2029 (E2 80 A8 / E2 80 A9) also end a line for the dot.
    if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(s[i + 2]) == 0xA8 ||
         static_cast<unsigned char>(s[i + 2]) == 0xA9)) {
        len = 3;
        return true;
    }
    return false;
}

} // namespace

std::string toUtf8(std::string_view text) {
    return sanitizeUtf8(text, true);
}
std::string fromUtf8(std::string_view bytes) {
    return sanitizeUtf8(bytes, true);
}
std::string wellFormedUtf8(std::string_view bytes) {
    return sanitizeUtf8(bytes, false);
}

std::string hexEncode(std::string_view bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.resize(bytes.size() * 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = digits[b >> 4];
        out[2 * i + 1] = digits[b & 15];
    }
    return out;
}

Bytes hexDecode(std::string_view hex) {
    Bytes out;
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i + 1 < hex.size() && hex[i] != '\0'; i += 2)
        out.push_back(static_cast<char>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    return out;
}

Bytes hexDecodeOptional(const std::optional<std::string>& hex) {
    return hex ? hexDecode(std::string_view(*hex)) : Bytes{};
}

bool parseFlag(std::string_view text) {
    bool found = false;
    for (size_t i = 0; i < text.size(); ++i) {
        size_t len = 0;
        if (isLineTerminator(text, i, len)) return false;
        const char c = text[i];
        if (c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9')) found = true;
    }
    return found;
}

int32_t toInt(const std::string& text) {
    return std::stoi(text);
}
double toReal(const std::string& text) {
    return std::stod(text);
}

std::string percentDecode(std::string_view text) {
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    std::string bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && text.size() - i >= 3) {
            bytes.push_back(static_cast<char>(nibble(text[i + 1]) * 16 + nibble(text[i + 2])));
            i += 2;
        } else if (c == '+') {
            bytes.push_back(' ');
        } else {
            // A truncated escape at the end is kept as it stands.
            bytes.push_back(c);
        }
    }
    // Strict decoding: well-formed UTF-8 only, and nothing outside the BMP.
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = wellFormedLength(bytes, i);
        if (n == 0 || n == 4) throw std::range_error("bad conversion");
        i += n;
    }
    return bytes;
}

std::string jsonQuote(std::string_view text) {
    return picojson::value(std::string(text)).serialize();
}

} // namespace kx5
