#include "library/ir_library.h"

#include "bridge/app_paths.h"
#include "library/library_store.h"
#include "library/search_text.h"

#include <picojson.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace kx5 {
namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr auto kIndexReloadDuringScan = std::chrono::seconds(1);
constexpr int kSearchCacheKiB = 8192;
constexpr size_t kMaxTags = 32;
constexpr size_t kMaxTagBytes = 64;

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool isInside(const std::string& path, const std::string& folder) {
    if (path == folder) return true;
    const std::string prefix = folder == "/" ? folder : folder + "/";
    return path.rfind(prefix, 0) == 0;
}

std::string summaryJson(const ScanSummary& s) {
    picojson::object o;
    o["added"] = picojson::value(double(s.added));
    o["changed"] = picojson::value(double(s.changed));
    o["removed"] = picojson::value(double(s.removed));
    o["unchanged"] = picojson::value(double(s.unchanged));
    o["files"] = picojson::value(double(s.files));
    o["skipped"] = picojson::value(double(s.skipped));
    o["cancelled"] = picojson::value(double(s.cancelled));
    picojson::array missing;
    for (const auto& m : s.missing)
        missing.emplace_back(m);
    o["missing"] = picojson::value(missing);
    picojson::array unlistable;
    for (const auto& p : s.unlistable) {
        picojson::object u;
        u["path"] = picojson::value(p.path);
        u["reason"] = picojson::value(p.reason);
        unlistable.emplace_back(u);
    }
    o["unlistable"] = picojson::value(unlistable);
    return picojson::value(o).serialize();
}

std::vector<std::string> libraryFolders(SqliteDatabase& db) {
    std::vector<std::string> roots;
    auto s = db.prepare("SELECT path FROM user.folders ORDER BY path");
    while (s.step())
        roots.push_back(s.text(0));
    return roots;
}

} // namespace

IrLibrary::IrLibrary(std::string folder, EventSink sink, ScanOptions options)
    : folder_(std::move(folder)), sink_(std::move(sink)), options_(options) {}

IrLibrary::~IrLibrary() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        cancel_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

SqliteDatabase& IrLibrary::db() {
    if (ui_) return ui_->db();
    if (!ensureFolder(folder_))
        throw LibraryError(std::string("cannot create the library folder: ") +
                           std::strerror(errno));
    try {
        store_ = std::make_unique<LibraryStore>(folder_);
        // Searches read a page of rows by id at a time; the scans write
        // through SQLite's default cache.
        ui_ = std::make_unique<LibraryConnection>(*store_, kSearchCacheKiB);
    } catch (const SqliteError& e) {
        store_.reset();
        throw LibraryError(std::string("cannot open the library: ") + e.what());
    }
    for (const LibraryRebuild& r : store_->rebuilds())
        sink_({"rebuilt", r.which, r.keptAs, r.reason, std::to_string(r.recovered)});
    // A new index is filled from the folders the user already has.
    if (store_->indexCreated() && !libraryFolders(ui_->db()).empty()) requestScan();
    return ui_->db();
}

std::string IrLibrary::foldersJson() {
    auto s = db().prepare(
        "SELECT fo.path, (SELECT count(*) FROM main.files f WHERE f.root = fo.path AND "
        "f.problem = ''), (SELECT count(*) FROM main.files f WHERE f.root = fo.path AND "
        "f.problem <> '') FROM user.folders fo ORDER BY fo.path");
    picojson::array list;
    while (s.step()) {
        picojson::object o;
        o["path"] = picojson::value(s.text(0));
        o["files"] = picojson::value(double(s.integer(1)));
        o["skipped"] = picojson::value(double(s.integer(2)));
        list.emplace_back(o);
    }
    return picojson::value(list).serialize();
}

bool IrLibrary::addFolder(const std::string& path) {
    char resolved[PATH_MAX];
    if (path.empty() || !::realpath(path.c_str(), resolved))
        throw LibraryError(std::strerror(errno));
    struct stat st {};
    if (::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode))
        throw LibraryError(std::strerror(ENOTDIR));
    const std::string folder = withoutTrailingSlash(resolved);
    SqliteDatabase& d = db();
    const std::vector<std::string> roots = libraryFolders(d);
    for (const std::string& root : roots)
        if (isInside(folder, root)) return false;
    SqliteTransaction t(d);
    auto remove = d.prepare("DELETE FROM user.folders WHERE path = ?");
    for (const std::string& root : roots)
        if (isInside(root, folder)) remove.bind(1, root).run();
    d.prepare("INSERT INTO user.folders(path, added) VALUES(?, ?)")
        .bind(1, folder)
        .bind(2, int64_t(std::time(nullptr)))
        .run();
    t.commit();
    searchIndexStale_ = true;
    requestScan();
    return true;
}

bool IrLibrary::removeFolder(const std::string& path) {
    char resolved[PATH_MAX];
    // A folder that is gone is removed by the name it was added under.
    const std::string folder =
        withoutTrailingSlash(::realpath(path.c_str(), resolved) ? resolved : path);
    SqliteDatabase& d = db();
    auto s = d.prepare("DELETE FROM user.folders WHERE path = ?");
    s.bind(1, folder).run();
    if (sqlite3_changes(d.handle()) == 0) return false;
    searchIndexStale_ = true;
    requestScan();
    return true;
}

void IrLibrary::scan() {
    db();
    requestScan();
}

bool IrLibrary::cancel() {
    std::lock_guard lock(mutex_);
    const bool any = scanning_ || scanRequested_;
    scanRequested_ = false;
    if (scanning_) cancel_ = true;
    return any;
}

std::string IrLibrary::statusJson() {
    SqliteDatabase& d = db();
    picojson::object o;
    {
        std::lock_guard lock(mutex_);
        o["scanning"] = picojson::value(scanning_ || scanRequested_);
    }
    o["done"] = picojson::value(double(done_.load()));
    o["total"] = picojson::value(double(total_.load()));
    auto s = d.prepare("SELECT count(*), ifnull(sum(problem <> ''), 0) FROM files WHERE root IN "
                       "(SELECT path FROM user.folders)");
    s.step();
    o["files"] = picojson::value(double(s.integer(0) - s.integer(1)));
    o["skipped"] = picojson::value(double(s.integer(1)));
    return picojson::value(o).serialize();
}

std::string IrLibrary::search(const SearchQuery& query) {
    SqliteDatabase& d = db();
    bool scanning;
    {
        std::lock_guard lock(mutex_);
        scanning = scanning_;
    }
    // A scan commits every few dozen files; loading the index for every
    // keystroke then would cost more than the search itself.
    const auto now = std::chrono::steady_clock::now();
    if (searchIndexStale_ || !scanning || now - searchIndexLoaded_ >= kIndexReloadDuringScan) {
        if (searchIndex_.refresh(d, searchIndexStale_)) searchIndexLoaded_ = now;
        searchIndexStale_ = false;
    }
    return searchLibrary(d, searchIndex_, query);
}

std::string IrLibrary::entry(const std::string& path) {
    return entryJson(db(), path);
}

std::string IrLibrary::skippedJson() {
    auto s = db().prepare("SELECT path, problem FROM files WHERE problem <> '' AND root IN "
                          "(SELECT path FROM user.folders) ORDER BY path LIMIT 1000");
    picojson::array list;
    while (s.step()) {
        picojson::object o;
        o["path"] = picojson::value(s.text(0));
        o["reason"] = picojson::value(s.text(1));
        list.emplace_back(o);
    }
    return picojson::value(list).serialize();
}

std::string IrLibrary::contentOf(const std::string& path) {
    auto s = db().prepare("SELECT content FROM files WHERE path = ? AND problem = '' AND root IN "
                          "(SELECT path FROM user.folders)");
    s.bind(1, path);
    return s.step() ? s.text(0) : std::string();
}

bool IrLibrary::setTags(const std::string& path, const std::vector<std::string>& tags) {
    picojson::array list;
    std::string text;
    for (const std::string& raw : tags) {
        const size_t a = raw.find_first_not_of(" \t");
        if (a == std::string::npos) continue;
        const std::string tag = raw.substr(a, raw.find_last_not_of(" \t") - a + 1);
        if (tag.size() > kMaxTagBytes) throw LibraryError("a tag is longer than 64 bytes");
        bool known = false;
        for (const auto& v : list)
            known = known || v.get<std::string>() == tag;
        if (known) continue;
        if (list.size() == kMaxTags) throw LibraryError("more than 32 tags");
        list.emplace_back(tag);
        text += (text.empty() ? "" : " ") + foldForSearch(tag);
    }
    const std::string content = contentOf(path);
    if (content.empty()) return false;
    writeMark(content, path, "tags = ?4, tagtext = ?5", [&](SqliteStatement& s) {
        s.bind(4, picojson::value(list).serialize()).bind(5, text);
    });
    return true;
}

bool IrLibrary::setFavourite(const std::string& path, bool favourite) {
    const std::string content = contentOf(path);
    if (content.empty()) return false;
    writeMark(content, path, "favourite = ?4",
              [&](SqliteStatement& s) { s.bind(4, int64_t(favourite)); });
    return true;
}

void IrLibrary::writeMark(const std::string& content, const std::string& path,
                          const std::string& assignments,
                          const std::function<void(SqliteStatement&)>& bindValues) {
    // One statement: the user's file alone is written, never the index.
    auto s = db().prepare("INSERT INTO user.marks(content, path, changed) VALUES(?1, ?2, ?3) "
                          "ON CONFLICT(content) DO UPDATE SET path = ?2, changed = ?3");
    s.bind(1, content).bind(2, path).bind(3, int64_t(std::time(nullptr))).run();
    auto update = db().prepare("UPDATE user.marks SET " + assignments + " WHERE content = ?1");
    update.bind(1, content);
    bindValues(update);
    update.run();
    searchIndexStale_ = true;
}

void IrLibrary::requestScan() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        scanRequested_ = true;
        if (!worker_.joinable()) worker_ = std::thread([this] { workerLoop(); });
    }
    wake_.notify_all();
}

void IrLibrary::postProgress(size_t done, size_t total) {
    done_ = done;
    total_ = total;
    const auto now = std::chrono::steady_clock::now();
    if (done != 0 && done != total && now - lastProgress_ < kProgressInterval) return;
    lastProgress_ = now;
    sink_({"progress", std::to_string(done), std::to_string(total)});
}

void IrLibrary::finishScan() {
    std::lock_guard lock(mutex_);
    scanning_ = false;
}

void IrLibrary::workerLoop() {
    // The worker's own connection, opened and closed on this thread.
    std::unique_ptr<LibraryConnection> connection;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || scanRequested_; });
            if (stopping_) return;
            scanRequested_ = false;
            scanning_ = true;
            cancel_ = false;
        }
        done_ = 0;
        total_ = 0;
        try {
            if (!connection) connection = std::make_unique<LibraryConnection>(*store_);
            LibraryScan scan(
                connection->db(), cancel_,
                [this](size_t done, size_t total) { postProgress(done, total); }, options_);
            const ScanSummary summary = scan.run(libraryFolders(connection->db()));
            finishScan();
            sink_({"scanned", summaryJson(summary)});
        } catch (const std::exception& e) {
            connection.reset();
            finishScan();
            sink_({"scanfailed", e.what()});
        }
    }
}

} // namespace kx5
