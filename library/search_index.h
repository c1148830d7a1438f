// What searching needs of every file in the library, held in memory on the
// thread that searches: the folded folder-and-name text, the tags, the
// facts the filters and orders use, and the curve. Measured: a pass over the
// database table for every keystroke costs 15-50 ms for 10000 files on two
// shared cores (LIKE or FTS5, the ordering and the total count included);
// over this copy, well under the keystroke budget. The copy is loaded again
// when the database changed (another connection committed, or a mark was
// set here).
#pragma once

#include "library/ir_analysis.h"
#include "library/library_search.h"
#include "library/sqlite_database.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kx5 {

class SearchIndex {
  public:
    struct Page {
        size_t total = 0;
        std::vector<int64_t> ids;
        std::vector<double> distances; // with a similarity order
    };

    // Loads the files again when the database changed since the last load
    // (or when forced, after this connection wrote a mark or a folder).
    // True when it loaded.
    bool refresh(SqliteDatabase& db, bool force = false);
    // reference: the curve of a similarity order (null: by name instead).
    Page find(const SearchQuery& query, const Thumbnail* reference) const;
    size_t size() const { return entries_.size(); }

  private:
    struct Entry {
        int64_t id = 0;
        std::string text; // folded folder and name, then the folded tags
        uint32_t rate = 0;
        uint32_t channels = 0;
        float lengthMs = 0;
        float brightness = 0;
        bool favourite = false;
        Thumbnail thumb{};
    };
    std::vector<Entry> entries_; // in name order
    int64_t mainVersion_ = -1;
    int64_t userVersion_ = -1;
};

} // namespace kx5
