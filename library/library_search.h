// Searching the library: words typed (each must appear in the folder, the
// file name or the tags), filters, an order, and one page of rows as JSON.
#pragma once

#include "library/sqlite_database.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx5 {

struct SearchQuery {
    enum class Order { Name, Length, Brightness, Similarity };

    std::string text;
    Order order = Order::Name;
    bool descending = false;
    std::string similarTo; // the path of the IR the others are compared with
    uint32_t rate = 0;     // 0: any
    uint32_t channels = 0; // 0: any
    double minLengthMs = 0.0;
    double maxLengthMs = 0.0; // 0: no upper bound
    bool favouritesOnly = false;
    size_t offset = 0;
    size_t limit = 200;

    // Keys: "text", "sort" ("name", "length", "brightness", "similar"),
    // "descending", "similar", "rate", "channels", "minLength" and
    // "maxLength" (ms), "favourites", "offset", "limit". Throws
    // std::invalid_argument for malformed JSON or a key of the wrong type.
    static SearchQuery fromJson(const std::string& json);
};

class SearchIndex;

// {"offset":n,"rows":[...],"total":n}; each row as entryJson describes.
// The files are found in the index, their rows read from db.
std::string searchLibrary(SqliteDatabase& db, const SearchIndex& index, const SearchQuery& query);

// One file of the library as a JSON object (keys: bits, brightness (Hz),
// channels, favourite, folder, format, frames, id, length (ms), name, path,
// rate, tags, thumb (64 points from 20 Hz to 20 kHz as two hex digits
// each: twice the dB below the curve's peak, at most B4), and distance
// (tenths of a dB) when ordered by similarity); "" when not in the library.
std::string entryJson(SqliteDatabase& db, const std::string& path);

} // namespace kx5
