#include "library/search_text.h"

#include "bridge/glib_handles.h"

namespace kx5 {
namespace {

bool isCombiningMark(gunichar c) {
    const GUnicodeType type = g_unichar_type(c);
    return type == G_UNICODE_NON_SPACING_MARK || type == G_UNICODE_SPACING_MARK ||
           type == G_UNICODE_ENCLOSING_MARK;
}

} // namespace

std::string foldForSearch(std::string_view text) {
    // Invalid UTF-8 (a name from an odd file system) is searched bytewise.
    if (!g_utf8_validate(text.data(), gssize(text.size()), nullptr)) {
        std::string lower(text);
        for (char& c : lower)
            c = char(g_ascii_tolower(c));
        return lower;
    }
    glib::Text folded(g_utf8_casefold(text.data(), gssize(text.size())));
    glib::Text decomposed(g_utf8_normalize(folded.get(), -1, G_NORMALIZE_NFKD));
    std::string out;
    for (const char* p = decomposed.get(); *p; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (isCombiningMark(c)) continue;
        char buf[6];
        out.append(buf, size_t(g_unichar_to_utf8(c, buf)));
    }
    return out;
}

std::vector<std::string> searchTerms(std::string_view typed) {
    std::vector<std::string> terms;
    const std::string folded = foldForSearch(typed);
    size_t start = 0;
    while (start < folded.size()) {
        const size_t end = folded.find_first_of(" \t\r\n", start);
        const size_t stop = end == std::string::npos ? folded.size() : end;
        if (stop > start) terms.push_back(folded.substr(start, stop - start));
        start = stop + 1;
    }
    return terms;
}

} // namespace kx5
