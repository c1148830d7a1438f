#include "library/sqlite_database.h"

namespace kx5 {

void checkSqlite(sqlite3* db, int code) {
    if (code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE) return;
    const int extended = db ? sqlite3_extended_errcode(db) : code;
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw SqliteError(extended, message);
}

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) : db_(db) {
    checkSqlite(db_, sqlite3_prepare_v2(db_, sql.data(), int(sql.size()), &stmt_, nullptr));
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(stmt_);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(other.db_), stmt_(other.stmt_) {
    other.stmt_ = nullptr;
}

SqliteStatement& SqliteStatement::bind(int index, int64_t value) {
    checkSqlite(db_, sqlite3_bind_int64(stmt_, index, value));
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, double value) {
    checkSqlite(db_, sqlite3_bind_double(stmt_, index, value));
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
    checkSqlite(db_,
                sqlite3_bind_text(stmt_, index, text.data(), int(text.size()), SQLITE_TRANSIENT));
    return *this;
}

SqliteStatement& SqliteStatement::bindBlob(int index, const void* data, size_t bytes) {
    checkSqlite(db_, sqlite3_bind_blob(stmt_, index, data, int(bytes), SQLITE_TRANSIENT));
    return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
    checkSqlite(db_, sqlite3_bind_null(stmt_, index));
    return *this;
}

bool SqliteStatement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    sqlite3_reset(stmt_);
    checkSqlite(db_, rc);
    return false;
}

void SqliteStatement::run() {
    while (step()) {
    }
    reset();
}

void SqliteStatement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int64_t SqliteStatement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double SqliteStatement::real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

std::string SqliteStatement::text(int column) const {
    const auto* p = sqlite3_column_text(stmt_, column);
    if (!p) return {};
    return std::string(reinterpret_cast<const char*>(p),
                       size_t(sqlite3_column_bytes(stmt_, column)));
}

const void* SqliteStatement::blob(int column) const {
    return sqlite3_column_blob(stmt_, column);
}

int SqliteStatement::bytes(int column) const {
    return sqlite3_column_bytes(stmt_, column);
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

SqliteDatabase::SqliteDatabase(const std::string& path, Mode mode) {
    const int flags = (mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY
                                              : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                      SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const SqliteError error(db_ ? sqlite3_extended_errcode(db_) : rc,
                                db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
        sqlite3_close(db_);
        db_ = nullptr;
        throw error;
    }
    sqlite3_extended_result_codes(db_, 1);
}

SqliteDatabase::~SqliteDatabase() {
    // Statements are finalised by their owners first; close_v2 waits for any
    // left over instead of failing.
    sqlite3_close_v2(db_);
}

void SqliteDatabase::exec(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        throw SqliteError(sqlite3_extended_errcode(db_), text);
    }
}

std::string SqliteDatabase::scalarText(std::string_view sql) {
    SqliteStatement s = prepare(sql);
    return s.step() ? s.text(0) : std::string();
}

int64_t SqliteDatabase::scalarInteger(std::string_view sql) {
    SqliteStatement s = prepare(sql);
    return s.step() ? s.integer(0) : 0;
}

SqliteTransaction::SqliteTransaction(SqliteDatabase& db) : db_(db) {
    db_.exec("BEGIN");
}

SqliteTransaction::~SqliteTransaction() {
    if (!open_) return;
    try {
        db_.exec("ROLLBACK");
    } catch (const SqliteError&) {
        // Nothing more to undo.
    }
}

void SqliteTransaction::commit() {
    db_.exec("COMMIT");
    open_ = false;
}

} // namespace kx5
