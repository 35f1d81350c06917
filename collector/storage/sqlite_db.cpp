// SQLite connection: WAL so that readers never wait for the writer, a busy
// time-out for the moments they do, statements prepared once per connection.
// synchronous=FULL: a report answered 200 survives a power failure (NORMAL
// would lose the last commits then; the store's option trades that for speed).
#include "collector/storage/sqlite_db.h"

#include <sqlite3.h>

#include <stdexcept>

namespace collector {

void SqliteCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }
void SqliteFinalizer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

SqliteDb::SqliteDb(const std::string& path) {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) Fail("cannot open " + path);
    sqlite3_busy_timeout(db_.get(), 30000);
    Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=OFF;");
}

void SqliteDb::Fail(const std::string& what) {
    throw std::runtime_error("SQLite: " + what + ": " + (db_ ? sqlite3_errmsg(db_.get()) : "out of memory"));
}

void SqliteDb::Exec(const std::string& script) {
    char* message = nullptr;
    if (sqlite3_exec(db_.get(), script.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw std::runtime_error("SQLite: " + text);
    }
}

sqlite3_stmt* SqliteDb::Prepared(const std::string& sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second.get();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &raw, nullptr) != SQLITE_OK) {
        Fail("cannot prepare " + sql);
    }
    return statements_.emplace(sql, SqliteStatement(raw)).first->second.get();
}

SqlRows SqliteDb::Query(const std::string& sql, const SqlParams& params) {
    sqlite3_stmt* statement = Prepared(sql);
    struct Reset {
        sqlite3_stmt* s;
        ~Reset() { sqlite3_reset(s); sqlite3_clear_bindings(s); }
    } reset{statement};
    for (std::size_t i = 0; i < params.size(); ++i) {
        int index = static_cast<int>(i + 1);
        if (const auto* number = std::get_if<std::int64_t>(&params[i])) {
            sqlite3_bind_int64(statement, index, *number);
        } else {
            const std::string& text = std::get<std::string>(params[i]);
            sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
        }
    }
    SqlRows rows;
    const int columns = sqlite3_column_count(statement);
    for (;;) {
        int rc = sqlite3_step(statement);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) Fail("cannot run " + sql);
        SqlRow& row = rows.emplace_back();
        row.fields.reserve(columns);
        for (int c = 0; c < columns; ++c) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
            row.fields.emplace_back(text ? std::string(text, sqlite3_column_bytes(statement, c)) : std::string());
        }
    }
    return rows;
}

}  // namespace collector
