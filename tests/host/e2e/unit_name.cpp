#include "tests/host/e2e/unit_name.h"

#include "bridge/glib_handles.h"

#include <map>

namespace kx5::e2e {
namespace {

bool combining(gunichar c) {
    return (c >= 0x300 && c <= 0x36F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
           (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
           (c >= 0xFE20 && c <= 0xFE2F);
}

// Letters whose base letter decomposition does not give.
const std::map<gunichar, char>& stroked() {
    static const std::map<gunichar, char> table{
        {0xD8, 'O'},  {0xF8, 'o'},  {0x141, 'L'}, {0x142, 'l'}, {0x110, 'D'},
        {0x111, 'd'}, {0x126, 'H'}, {0x127, 'h'}, {0x166, 'T'}, {0x167, 't'},
        {0x131, 'i'}, {0x197, 'I'}, {0x268, 'i'}, {0x1B5, 'Z'}, {0x1B6, 'z'}};
    return table;
}

// The character as the unit holds it; 0 for a lone accent (dropped).
char unitChar(gunichar c) {
    if (c >= 0x20 && c < 0x7F) return static_cast<char>(c);
    if (combining(c)) return 0;
    if (const auto it = stroked().find(c); it != stroked().end()) return it->second;
    gunichar parts[G_UNICHAR_MAX_DECOMPOSITION_LENGTH];
    const gsize n = g_unichar_fully_decompose(c, FALSE, parts, G_N_ELEMENTS(parts));
    gunichar base = 0;
    size_t bases = 0;
    for (gsize i = 0; i < n; ++i)
        if (!combining(parts[i])) {
            base = parts[i];
            ++bases;
        }
    if (bases == 1 && base < 0x80 && g_ascii_isalpha(static_cast<char>(base)))
        return static_cast<char>(base);
    return '?';
}

} // namespace

std::string unitSlotName(const std::string& utf8, size_t length) {
    const glib::Text nfc(
        g_utf8_normalize(utf8.c_str(), static_cast<gssize>(utf8.size()), G_NORMALIZE_NFC));
    std::string out;
    if (nfc) {
        for (const gchar* p = nfc.get(); *p && out.size() < length; p = g_utf8_next_char(p))
            if (const char c = unitChar(g_utf8_get_char(p))) out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace kx5::e2e
