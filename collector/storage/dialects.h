// Where SQLite and PostgreSQL are written differently: report ids, the raw
// rows (COPY on PostgreSQL), day partitions, retention and the schema; and
// the statements both speak alike for dictionary rows and daily sums.
// Private to storage.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "collector/storage/batch_rows.h"
#include "collector/storage/pg_db.h"
#include "collector/storage/sqlite_db.h"

namespace collector {

std::vector<std::int64_t> ReserveReportIds(SqliteDb& db, std::int64_t n);
std::vector<std::int64_t> ReserveReportIds(PgDb& db, std::int64_t n);

void WriteRawRows(SqliteDb& db, const BatchRows& rows);
void WriteRawRows(PgDb& db, const BatchRows& rows);

// Each new day's partitions (PostgreSQL; nothing on SQLite) in a short
// transaction of their own; known remembers the days made.
void EnsurePartitions(SqliteDb& db, const std::set<std::int64_t>& days, std::set<std::int64_t>& known);
void EnsurePartitions(PgDb& db, const std::set<std::int64_t>& days, std::set<std::int64_t>& known);

// Retention: the raw rows before the cutoff, then the files whose last day
// of use is over (no kept report names them) and the spent attribute budgets.
void DropRawBefore(SqliteDb& db, std::int64_t cutoff, std::set<std::int64_t>& known);
void DropRawBefore(PgDb& db, std::int64_t cutoff, std::set<std::int64_t>& known);

void CreateSchema(SqliteDb& db);
void CreateSchema(PgDb& db);

// New rows of one dictionary, inserted in digest order so that concurrent
// writers take their locks in one order. Texts that differ only in what
// cleaning replaced share one row, and so one digest.
struct NewRows {
    struct Row {
        std::vector<std::string> keys;
        SqlParams values;  // digest first
    };
    std::map<std::string, Row> byDigest;
    std::unordered_map<std::string, std::string> digestOfKey;

    bool Has(const std::string& key) const { return digestOfKey.count(key) > 0; }
    void Add(const std::string& key, SqlParams values);
};

// Inserts the rows that are not there yet and sets every key's id. With
// `newer` (a column holding a day), a row already there takes the later day.
template <class Db>
void InsertNew(Db& db, const std::string& table, const std::string& columns, const NewRows& rows,
               std::unordered_map<std::string, std::int64_t>& ids, const char* newer = nullptr);

// The ids of the rows already there among `rows`, by key.
template <class Db>
std::unordered_map<std::string, std::int64_t> ExistingRows(Db& db, const std::string& table, const NewRows& rows);

// Raises the (program, day) row of attribute_budget by up to `wanted` within
// `cap`; how many it granted. Locks the row until the transaction ends.
template <class Db>
std::int64_t TakeAttributeBudget(Db& db, std::int64_t program, std::int64_t day, std::int64_t wanted,
                                 std::int64_t cap);

// Adds the batch's sums to the stored ones, in key order.
template <class Db> void WriteAggregates(Db& db, const Aggregates& sums);

}  // namespace collector
