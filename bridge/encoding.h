// Shared conversions for values that cross the bridge as text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kx5 {

// Bytes as passed around inside the host (may contain NUL).
using Bytes = std::string;

// Text inside the host is UTF-8. toUtf8 takes text that may hold ill-formed
// sequences (from files, the page) and returns well-formed UTF-8 up to the
// first NUL; every ill-formed sequence becomes U+FFFD.
std::string toUtf8(std::string_view text);
// Same contract in the other direction: bytes up to the first NUL, decoded
// with replacement.
std::string fromUtf8(std::string_view bytes);
// Every byte kept (NUL too) except ill-formed sequences, each of which
// becomes U+FFFD: what a text must be before it goes into JSON output.
std::string wellFormedUtf8(std::string_view bytes);

// Upper-case hex, two digits per byte, no separators.
std::string hexEncode(std::string_view bytes);
// Pairs of digits; a pair starting with NUL ends the input, an odd final
// digit is ignored, a non-digit counts as 0.
Bytes hexDecode(std::string_view hex);
Bytes hexDecodeOptional(const std::optional<std::string>& hex);

// True when the text matches the ECMAScript pattern ".*[YyTt1-9].*" (the dot
// does not match line terminators, so such a text is always false).
bool parseFlag(std::string_view text);

// Decimal conversions with the standard library's rules and error texts
// ("invalid stoi argument", "stoi argument out of range", and "stod").
int32_t toInt(const std::string& text);
double toReal(const std::string& text);

// Decodes %XX escapes and "+" in a file address. Throws std::range_error
// ("bad conversion") when the bytes are not strict UTF-8 or hold a character
// above U+FFFF.
std::string percentDecode(std::string_view text);

// Serialises a JSON string the way the bridge's JSON library does.
std::string jsonQuote(std::string_view text);

} // namespace kx5
