// One SQLite connection with its prepared statements, owned by RAII handles.
#pragma once
#include <memory>
#include <string>
#include <unordered_map>

#include "collector/storage/sql.h"

struct sqlite3;
struct sqlite3_stmt;

namespace collector {

struct SqliteCloser { void operator()(sqlite3* db) const; };
struct SqliteFinalizer { void operator()(sqlite3_stmt* statement) const; };
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

class SqliteDb {
public:
    explicit SqliteDb(const std::string& path);
    void Exec(const std::string& script);
    SqlRows Query(const std::string& sql, const SqlParams& params = {});
    void Begin() { Exec("BEGIN IMMEDIATE"); }
    void Commit() { Exec("COMMIT"); }
    void Rollback() { Exec("ROLLBACK"); }

private:
    sqlite3_stmt* Prepared(const std::string& sql);
    [[noreturn]] void Fail(const std::string& what);

    SqliteHandle db_;
    std::unordered_map<std::string, SqliteStatement> statements_;
};

}  // namespace collector
