#include "library/library_search.h"

#include "bridge/json_parse.h"
#include "library/ir_analysis.h"
#include "library/search_index.h"

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

// Two hex digits a point: twice the dB below the curve's peak, so 00 is the
// peak and B4 (180) is 90 dB below it or lower.
std::string thumbnailHex(const void* blob, int bytes) {
    Thumbnail t;
    t.fill(kThumbnailFloorDb);
    if (blob && bytes == int(sizeof t)) std::memcpy(t.data(), blob, sizeof t);
    const float peak = *std::max_element(t.begin(), t.end());
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (float v : t) {
        const long step = std::lround(std::min(double(peak - v), kThumbnailRangeDb) * 2.0);
        hex += digits[step >> 4];
        hex += digits[step & 15];
    }
    return hex;
}

picojson::value rowJson(const SqliteStatement& s, const double* distance) {
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
    o["thumb"] = picojson::value(thumbnailHex(s.blob(11), s.bytes(11)));
    picojson::value tags;
    if (!parseJson(tags, s.text(12)).empty() || !tags.is<picojson::array>())
        tags = picojson::value(picojson::array());
    o["tags"] = tags;
    o["favourite"] = picojson::value(double(s.integer(13) != 0));
    if (distance) o["distance"] = picojson::value(double(std::lround(*distance * 10.0)));
    return picojson::value(o);
}

// The curve of the IR a similarity order compares with.
bool referenceThumb(SqliteDatabase& db, const std::string& path, Thumbnail& thumb) {
    auto s = db.prepare("SELECT thumb FROM files WHERE path = ? AND problem = ''");
    s.bind(1, path);
    if (!s.step() || s.bytes(0) != int(sizeof thumb)) return false;
    std::memcpy(thumb.data(), s.blob(0), sizeof thumb);
    return true;
}

} // namespace

SearchQuery SearchQuery::fromJson(const std::string& json) {
    SearchQuery q;
    if (json.empty()) return q;
    picojson::value v;
    if (!parseJson(v, json).empty() || !v.is<picojson::object>())
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

std::string searchLibrary(SqliteDatabase& db, const SearchIndex& index, const SearchQuery& q) {
    Thumbnail reference;
    const bool similar =
        q.order == SearchQuery::Order::Similarity && referenceThumb(db, q.similarTo, reference);
    const SearchIndex::Page page = index.find(q, similar ? &reference : nullptr);

    // The index holds only files of library folders.
    auto row = db.prepare(std::string(kColumns) +
                          " FROM files f LEFT JOIN user.marks m ON m.content = f.content WHERE "
                          "f.id = ? AND f.problem = ''");
    picojson::array list;
    for (size_t i = 0; i < page.ids.size(); ++i) {
        row.bind(1, page.ids[i]);
        // A file the scan removed since the index was loaded is left out.
        if (row.step()) list.push_back(rowJson(row, similar ? &page.distances[i] : nullptr));
        row.reset();
    }
    picojson::object result;
    result["total"] = picojson::value(double(page.total));
    result["offset"] = picojson::value(double(q.offset));
    result["rows"] = picojson::value(list);
    return picojson::value(result).serialize();
}

std::string entryJson(SqliteDatabase& db, const std::string& path) {
    auto s = db.prepare(std::string(kColumns) + kFrom + " AND f.path = ?");
    s.bind(1, path);
    return s.step() ? rowJson(s, nullptr).serialize() : std::string();
}

} // namespace kx5
