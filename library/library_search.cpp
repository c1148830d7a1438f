#include "library/library_search.h"

#include "library/ir_analysis.h"
#include "library/search_text.h"

#include <picojson.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace kx5 {
namespace {

constexpr size_t kMaxLimit = 1000;
constexpr double kThumbnailRangeDb = 90.0;

const char* const kColumns =
    "SELECT f.id, f.path, f.name, f.folder, f.format, f.rate, f.bits, f.channels, f.frames, "
    "f.length, f.brightness, f.thumb, ifnull(m.tags, '[]'), ifnull(m.favourite, 0)";
const char* const kFrom = " FROM files f LEFT JOIN user.marks m ON m.content = f.content"
                          " WHERE f.problem = '' AND f.root IN (SELECT path FROM user.folders)";

const picojson::value* member(const picojson::object& o, const char* key) {
    auto it = o.find(key);
    return it == o.end() || it->second.is<picojson::null>() ? nullptr : &it->second;
}

template <typename T> T typed(const picojson::value& v, const char* key) {
    if (!v.is<T>()) throw std::invalid_argument(std::string("search: wrong type of ") + key);
    return v.get<T>();
}

double nonNegative(const picojson::value& v, const char* key) {
    const double d = typed<double>(v, key);
    if (!std::isfinite(d) || d < 0) throw std::invalid_argument(std::string("search: ") + key);
    return d;
}

std::string likePattern(const std::string& term) {
    std::string p = "%";
    for (char c : term) {
        if (c == '%' || c == '_' || c == '\\') p += '\\';
        p += c;
    }
    return p + "%";
}

picojson::array thumbnailJson(const void* blob, int bytes) {
    Thumbnail t;
    t.fill(kThumbnailFloorDb);
    if (blob && bytes == int(sizeof t)) std::memcpy(t.data(), blob, sizeof t);
    const float peak = *std::max_element(t.begin(), t.end());
    picojson::array points;
    for (float v : t)
        points.emplace_back(double(std::lround(std::max(double(v - peak), -kThumbnailRangeDb))));
    return points;
}

picojson::value rowJson(const SqliteStatement& s, bool withDistance) {
    picojson::object o;
    o["id"] = picojson::value(double(s.integer(0)));
    o["path"] = picojson::value(s.text(1));
    o["name"] = picojson::value(s.text(2));
    o["folder"] = picojson::value(s.text(3));
    o["format"] = picojson::value(s.text(4));
    o["rate"] = picojson::value(double(s.integer(5)));
    o["bits"] = picojson::value(double(s.integer(6)));
    o["channels"] = picojson::value(double(s.integer(7)));
    o["frames"] = picojson::value(double(s.integer(8)));
    o["length"] = picojson::value(double(std::lround(s.real(9))));
    o["brightness"] = picojson::value(double(std::lround(s.real(10))));
    o["thumb"] = picojson::value(thumbnailJson(s.blob(11), s.bytes(11)));
    picojson::value tags;
    if (!picojson::parse(tags, s.text(12)).empty() || !tags.is<picojson::array>())
        tags = picojson::value(picojson::array());
    o["tags"] = tags;
    o["favourite"] = picojson::value(double(s.integer(13) != 0));
    if (withDistance && !s.isNull(14))
        o["distance"] = picojson::value(double(std::lround(s.real(14) * 10.0)));
    return picojson::value(o);
}

// The reference curve of a similarity order, as stored.
std::vector<unsigned char> referenceThumb(SqliteDatabase& db, const std::string& path) {
    auto s = db.prepare("SELECT thumb FROM files WHERE path = ? AND problem = ''");
    s.bind(1, path);
    if (!s.step() || s.bytes(0) != int(sizeof(Thumbnail))) return {};
    const auto* p = static_cast<const unsigned char*>(s.blob(0));
    return std::vector<unsigned char>(p, p + s.bytes(0));
}

} // namespace

SearchQuery SearchQuery::fromJson(const std::string& json) {
    SearchQuery q;
    if (json.empty()) return q;
    picojson::value v;
    if (!picojson::parse(v, json).empty() || !v.is<picojson::object>())
        throw std::invalid_argument("search: not a JSON object");
    const auto& o = v.get<picojson::object>();
    if (auto* m = member(o, "text")) q.text = typed<std::string>(*m, "text");
    if (auto* m = member(o, "sort")) {
        const std::string sort = typed<std::string>(*m, "sort");
        if (sort == "name")
            q.order = Order::Name;
        else if (sort == "length")
            q.order = Order::Length;
        else if (sort == "brightness")
            q.order = Order::Brightness;
        else if (sort == "similar")
            q.order = Order::Similarity;
        else
            throw std::invalid_argument("search: unknown sort " + sort);
    }
    if (auto* m = member(o, "descending")) q.descending = typed<bool>(*m, "descending");
    if (auto* m = member(o, "similar")) q.similarTo = typed<std::string>(*m, "similar");
    if (auto* m = member(o, "rate")) q.rate = uint32_t(std::min(nonNegative(*m, "rate"), 4e9));
    if (auto* m = member(o, "channels"))
        q.channels = uint32_t(std::min(nonNegative(*m, "channels"), 65535.0));
    if (auto* m = member(o, "minLength")) q.minLengthMs = nonNegative(*m, "minLength");
    if (auto* m = member(o, "maxLength")) q.maxLengthMs = nonNegative(*m, "maxLength");
    if (auto* m = member(o, "favourites")) q.favouritesOnly = typed<bool>(*m, "favourites");
    if (auto* m = member(o, "offset")) q.offset = size_t(std::min(nonNegative(*m, "offset"), 1e9));
    if (auto* m = member(o, "limit"))
        q.limit = size_t(std::min(nonNegative(*m, "limit"), double(kMaxLimit)));
    return q;
}

std::string searchLibrary(SqliteDatabase& db, const SearchQuery& q) {
    std::string where;
    std::vector<std::string> texts;
    std::vector<double> numbers;
    for (const std::string& term : searchTerms(q.text)) {
        // Each word binds twice: folder and name, or tags.
        where += " AND (f.search LIKE ? ESCAPE '\\' OR ifnull(m.tagtext, '') LIKE ? ESCAPE '\\')";
        texts.push_back(likePattern(term));
    }
    std::string filters;
    if (q.rate) {
        filters += " AND f.rate = ?";
        numbers.push_back(q.rate);
    }
    if (q.channels) {
        filters += " AND f.channels = ?";
        numbers.push_back(q.channels);
    }
    if (q.minLengthMs > 0) {
        filters += " AND f.length >= ?";
        numbers.push_back(q.minLengthMs);
    }
    if (q.maxLengthMs > 0) {
        filters += " AND f.length <= ?";
        numbers.push_back(q.maxLengthMs);
    }
    if (q.favouritesOnly) filters += " AND m.favourite = 1";

    const std::vector<unsigned char> reference = q.order == SearchQuery::Order::Similarity
                                                     ? referenceThumb(db, q.similarTo)
                                                     : std::vector<unsigned char>();
    const bool similar = !reference.empty();
    const std::string direction = q.descending ? " DESC" : "";
    // Similarity without a reference (not in the library) falls back to names.
    std::string key = "f.sortname";
    if (q.order == SearchQuery::Order::Length) key = "f.length";
    if (q.order == SearchQuery::Order::Brightness) key = "f.brightness";
    if (similar) key = "15"; // the distance column
    const std::string order =
        " ORDER BY " + key + direction +
        (key == "f.sortname" ? ", f.folder" + direction : ", f.sortname, f.folder");

    const auto bindAll = [&](SqliteStatement& s, int first) {
        int i = first;
        for (const std::string& t : texts) {
            s.bind(i++, t);
            s.bind(i++, t);
        }
        for (double n : numbers)
            s.bind(i++, n);
        return i;
    };

    picojson::object result;
    {
        auto count = db.prepare(std::string("SELECT count(*)") + kFrom + where + filters);
        bindAll(count, 1);
        result["total"] = picojson::value(double(count.step() ? count.integer(0) : 0));
    }
    const std::string distance = similar ? ", ir_distance(f.thumb, ?)" : ", NULL";
    auto rows = db.prepare(std::string(kColumns) + distance + kFrom + where + filters + order +
                           " LIMIT ? OFFSET ?");
    int next = 1;
    if (similar) rows.bindBlob(next++, reference.data(), reference.size());
    next = bindAll(rows, next);
    rows.bind(next, int64_t(q.limit));
    rows.bind(next + 1, int64_t(q.offset));
    picojson::array list;
    while (rows.step())
        list.push_back(rowJson(rows, similar));
    result["rows"] = picojson::value(list);
    result["offset"] = picojson::value(double(q.offset));
    return picojson::value(result).serialize();
}

std::string entryJson(SqliteDatabase& db, const std::string& path) {
    auto s = db.prepare(std::string(kColumns) + ", NULL" + kFrom + " AND f.path = ?");
    s.bind(1, path);
    return s.step() ? rowJson(s, false).serialize() : std::string();
}

} // namespace kx5
