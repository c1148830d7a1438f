#include "library/library_store.h"

#include "library/ir_analysis.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace kx5 {
namespace {

constexpr int kIndexVersion = 1;
constexpr int kUserVersion = 1;

const char* const kIndexSchema = R"(
CREATE TABLE files(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL UNIQUE,
  root TEXT NOT NULL,
  name TEXT NOT NULL,
  folder TEXT NOT NULL,
  search TEXT NOT NULL,
  sortname TEXT NOT NULL,
  size INTEGER NOT NULL,
  mtime INTEGER NOT NULL,
  problem TEXT NOT NULL DEFAULT '',
  format TEXT NOT NULL DEFAULT '',
  rate INTEGER NOT NULL DEFAULT 0,
  bits INTEGER NOT NULL DEFAULT 0,
  channels INTEGER NOT NULL DEFAULT 0,
  frames INTEGER NOT NULL DEFAULT 0,
  length REAL NOT NULL DEFAULT 0,
  brightness REAL NOT NULL DEFAULT 0,
  thumb BLOB,
  content TEXT NOT NULL DEFAULT '');
CREATE INDEX files_root ON files(root);
CREATE INDEX files_content ON files(content);
CREATE INDEX files_name ON files(sortname, folder);
PRAGMA user_version = 1;
)";

const char* const kUserSchema = R"(
CREATE TABLE folders(path TEXT PRIMARY KEY, added INTEGER NOT NULL);
CREATE TABLE marks(
  content TEXT PRIMARY KEY,
  path TEXT NOT NULL,
  tags TEXT NOT NULL DEFAULT '[]',
  tagtext TEXT NOT NULL DEFAULT '',
  favourite INTEGER NOT NULL DEFAULT 0,
  changed INTEGER NOT NULL);
PRAGMA user_version = 1;
)";

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// What is wrong with an existing database file, or nothing.
std::optional<std::string> problemOf(const std::string& path, int version,
                                     std::initializer_list<const char*> tables) {
    try {
        SqliteDatabase db(path);
        const std::string check = db.scalarText("PRAGMA quick_check");
        if (check != "ok") return "damaged (" + check + ")";
        const int64_t found = db.scalarInteger("PRAGMA user_version");
        if (found != version) return "written by another version (" + std::to_string(found) + ")";
        for (const char* table : tables) {
            auto s = db.prepare("SELECT count(*) FROM sqlite_master WHERE type='table' AND name=?");
            s.bind(1, std::string_view(table));
            if (!s.step() || s.integer(0) != 1) return std::string("table ") + table + " missing";
        }
        return std::nullopt;
    } catch (const SqliteError& e) {
        return std::string("damaged (") + e.what() + ")";
    }
}

std::string stamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &local);
    return buf;
}

// Renames the file (with its journal files) to a free "<path>.damaged-<time>".
std::string keepAside(const std::string& path) {
    std::string target = path + ".damaged-" + stamp();
    for (int n = 2; exists(target); ++n)
        target = path + ".damaged-" + stamp() + "-" + std::to_string(n);
    if (std::rename(path.c_str(), target.c_str()) != 0)
        throw SqliteError(SQLITE_CANTOPEN, "cannot keep the damaged library file aside: " +
                                               std::string(std::strerror(errno)));
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        const std::string from = path + suffix;
        if (exists(from)) std::rename(from.c_str(), (target + suffix).c_str());
    }
    return target;
}

void removeWithJournals(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        ::unlink((path + suffix).c_str());
}

void create(const std::string& path, const char* schema) {
    SqliteDatabase db(path);
    db.exec("PRAGMA journal_mode=WAL");
    db.exec(std::string("BEGIN;") + schema + "COMMIT;");
}

// Copies what still reads of a damaged user file; returns the rows copied.
int recoverUserRows(const std::string& damaged, const std::string& fresh) {
    int copied = 0;
    try {
        SqliteDatabase from(damaged, SqliteDatabase::Mode::ReadOnly);
        SqliteDatabase to(fresh);
        auto insertFolder = to.prepare("INSERT OR IGNORE INTO folders(path, added) VALUES(?,?)");
        auto insertMark =
            to.prepare("INSERT OR IGNORE INTO marks(content, path, tags, tagtext, favourite, "
                       "changed) VALUES(?,?,?,?,?,?)");
        const auto each = [&](const char* sql, const auto& copy) {
            try {
                auto s = from.prepare(sql);
                while (s.step()) {
                    copy(s);
                    ++copied;
                }
            } catch (const SqliteError&) {
                // The rest of this table is lost.
            }
        };
        to.exec("BEGIN");
        each("SELECT path, added FROM folders", [&](SqliteStatement& s) {
            insertFolder.bind(1, s.text(0)).bind(2, s.integer(1)).run();
        });
        each("SELECT content, path, tags, tagtext, favourite, changed FROM marks",
             [&](SqliteStatement& s) {
                 insertMark.bind(1, s.text(0))
                     .bind(2, s.text(1))
                     .bind(3, s.text(2))
                     .bind(4, s.text(3))
                     .bind(5, s.integer(4))
                     .bind(6, s.integer(5))
                     .run();
             });
        to.exec("COMMIT");
    } catch (const SqliteError&) {
        // Not even the file opens: nothing to carry over.
    }
    return copied;
}

void distanceFunction(sqlite3_context* context, int, sqlite3_value** values) {
    Thumbnail a, b;
    const auto blobOf = [](sqlite3_value* v, Thumbnail& t) {
        if (sqlite3_value_bytes(v) != int(sizeof t)) return false;
        std::memcpy(t.data(), sqlite3_value_blob(v), sizeof t);
        return true;
    };
    if (!blobOf(values[0], a) || !blobOf(values[1], b)) {
        sqlite3_result_null(context);
        return;
    }
    sqlite3_result_double(context, thumbnailDistance(a, b));
}

} // namespace

LibraryStore::LibraryStore(std::string folder) : folder_(std::move(folder)) {
    const std::string user = userPath();
    if (exists(user)) {
        if (const auto problem = problemOf(user, kUserVersion, {"folders", "marks"})) {
            const std::string kept = keepAside(user);
            create(user, kUserSchema);
            rebuilds_.push_back({"user", kept, *problem, recoverUserRows(kept, user)});
        }
    } else {
        create(user, kUserSchema);
    }

    const std::string index = indexPath();
    if (exists(index)) {
        if (const auto problem = problemOf(index, kIndexVersion, {"files"})) {
            // An index of another version is only outdated: it is made anew.
            const bool damaged = problem->rfind("damaged", 0) == 0;
            std::string kept;
            if (damaged)
                kept = keepAside(index);
            else
                removeWithJournals(index);
            create(index, kIndexSchema);
            indexCreated_ = true;
            rebuilds_.push_back({"index", kept, *problem, 0});
        }
    } else {
        removeWithJournals(index);
        create(index, kIndexSchema);
        indexCreated_ = true;
    }
}

LibraryConnection::LibraryConnection(const LibraryStore& store, int cacheKiB)
    : db_(store.indexPath()) {
    sqlite3_busy_timeout(db_.handle(), 5000);
    auto attach = db_.prepare("ATTACH DATABASE ? AS user");
    attach.bind(1, store.userPath()).run();
    db_.exec("PRAGMA main.journal_mode=WAL; PRAGMA user.journal_mode=WAL;"
             "PRAGMA main.synchronous=NORMAL; PRAGMA user.synchronous=NORMAL;");
    if (cacheKiB > 0) db_.exec("PRAGMA main.cache_size=-" + std::to_string(cacheKiB));
    checkSqlite(db_.handle(), sqlite3_create_function(db_.handle(), "ir_distance", 2,
                                                      SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                                      distanceFunction, nullptr, nullptr));
}

} // namespace kx5
