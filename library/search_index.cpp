#include "library/search_index.h"

#include "library/search_text.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace kx5 {

bool SearchIndex::refresh(SqliteDatabase& db, bool force) {
    // Read before the load: a commit in between only makes the next
    // refresh load once more.
    const int64_t mainVersion = db.scalarInteger("PRAGMA main.data_version");
    const int64_t userVersion = db.scalarInteger("PRAGMA user.data_version");
    if (!force && mainVersion == mainVersion_ && userVersion == userVersion_) return false;
    auto s = db.prepare(
        "SELECT f.id, f.search, ifnull(m.tagtext, ''), f.rate, f.channels, f.length, "
        "f.brightness, ifnull(m.favourite, 0), f.thumb FROM files f LEFT JOIN user.marks m ON "
        "m.content = f.content WHERE f.problem = '' AND f.root IN (SELECT path FROM "
        "user.folders) ORDER BY f.sortname, f.folder");
    std::vector<Entry> entries;
    entries.reserve(entries_.size());
    while (s.step()) {
        Entry e;
        e.id = s.integer(0);
        e.text = s.text(1);
        const std::string tags = s.text(2);
        if (!tags.empty()) e.text += "\n" + tags;
        e.rate = uint32_t(s.integer(3));
        e.channels = uint32_t(s.integer(4));
        e.lengthMs = float(s.real(5));
        e.brightness = float(s.real(6));
        e.favourite = s.integer(7) != 0;
        if (s.bytes(8) == int(sizeof e.thumb))
            std::memcpy(e.thumb.data(), s.blob(8), sizeof e.thumb);
        else
            e.thumb.fill(kThumbnailFloorDb);
        entries.push_back(std::move(e));
    }
    entries_ = std::move(entries);
    mainVersion_ = mainVersion;
    userVersion_ = userVersion;
    return true;
}

SearchIndex::Page SearchIndex::find(const SearchQuery& q, const Thumbnail* reference) const {
    const std::vector<std::string> terms = searchTerms(q.text);
    std::vector<uint32_t> hits; // positions in name order
    for (uint32_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (q.rate && e.rate != q.rate) continue;
        if (q.channels && e.channels != q.channels) continue;
        if (q.minLengthMs > 0 && e.lengthMs < q.minLengthMs) continue;
        if (q.maxLengthMs > 0 && e.lengthMs > q.maxLengthMs) continue;
        if (q.favouritesOnly && !e.favourite) continue;
        const std::string_view text = e.text;
        if (!std::all_of(terms.begin(), terms.end(),
                         [&](const std::string& t) { return text.find(t) != text.npos; }))
            continue;
        hits.push_back(i);
    }

    Page page;
    page.total = hits.size();
    const size_t first = std::min(q.offset, hits.size());
    const size_t last = std::min(hits.size(), first + q.limit);
    std::vector<double> distance;
    // Ties in any order go by name.
    const auto orderBy = [&](const auto& key) {
        return [&, key](uint32_t a, uint32_t b) {
            const auto ka = key(a), kb = key(b);
            if (ka != kb) return q.descending ? ka > kb : ka < kb;
            return a < b;
        };
    };
    const auto sortPage = [&](const auto& less) {
        std::partial_sort(hits.begin(), hits.begin() + std::ptrdiff_t(last), hits.end(), less);
    };
    if (reference) {
        distance.resize(entries_.size());
        for (uint32_t i : hits)
            distance[i] = thumbnailDistance(*reference, entries_[i].thumb);
        sortPage(orderBy([&](uint32_t i) { return distance[i]; }));
    } else if (q.order == SearchQuery::Order::Length) {
        sortPage(orderBy([&](uint32_t i) { return entries_[i].lengthMs; }));
    } else if (q.order == SearchQuery::Order::Brightness) {
        sortPage(orderBy([&](uint32_t i) { return entries_[i].brightness; }));
    } else if (q.descending) {
        std::reverse(hits.begin(), hits.end());
    }
    for (size_t k = first; k < last; ++k) {
        page.ids.push_back(entries_[hits[k]].id);
        if (reference) page.distances.push_back(distance[hits[k]]);
    }
    return page;
}

} // namespace kx5
