// Owning wrappers of an SQLite connection and its prepared statements.
// Failures throw SqliteError with SQLite's own message.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kx5 {

class SqliteError : public std::runtime_error {
  public:
    SqliteError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }
    // The file is damaged or is not a database at all.
    bool damaged() const {
        const int primary = code_ & 0xFF;
        return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
    }

  private:
    int code_;
};

class SqliteStatement {
  public:
    SqliteStatement(sqlite3* db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&&) = delete;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Parameters are numbered from 1.
    SqliteStatement& bind(int index, int64_t value);
    SqliteStatement& bind(int index, double value);
    SqliteStatement& bind(int index, std::string_view text);
    SqliteStatement& bindBlob(int index, const void* data, size_t bytes);
    SqliteStatement& bindNull(int index);

    // True while a row is there; false when done.
    bool step();
    // Runs to the end (for statements without rows) and resets.
    void run();
    void reset();

    int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    const void* blob(int column) const;
    int bytes(int column) const;
    bool isNull(int column) const;

  private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDatabase {
  public:
    enum class Mode { ReadWriteCreate, ReadOnly };
    SqliteDatabase(const std::string& path, Mode mode = Mode::ReadWriteCreate);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // Runs one or more statements without results.
    void exec(const std::string& sql);
    SqliteStatement prepare(std::string_view sql) { return SqliteStatement(db_, sql); }
    // The first column of the first row of a query as text ("" when none).
    std::string scalarText(std::string_view sql);
    int64_t scalarInteger(std::string_view sql);
    sqlite3* handle() const { return db_; }

  private:
    sqlite3* db_ = nullptr;
};

// Throws SqliteError for a result code other than OK, ROW or DONE.
void checkSqlite(sqlite3* db, int code);

// BEGIN ... COMMIT, rolled back when left by an exception. Deferred, so that
// it locks only the databases it writes (the index or the user's file).
class SqliteTransaction {
  public:
    explicit SqliteTransaction(SqliteDatabase& db);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;
    void commit();

  private:
    SqliteDatabase& db_;
    bool open_ = true;
};

} // namespace kx5
