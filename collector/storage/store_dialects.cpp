// The dialects' writing: what differs between SQLite and PostgreSQL, and the
// dictionary and sum statements both speak alike.
#include "collector/storage/dialects.h"

#include <algorithm>
#include <ctime>

#include "collector/storage/engine.h"
#include "collector/storage/schema.h"

namespace collector {

namespace {

// Creating or dropping tables: one process at a time, until its transaction ends.
void LockSchema(PgDb& db) {
    constexpr std::int64_t kSchemaLock = 0x6b6f7276;  // "korv"
    db.Query("SELECT pg_advisory_xact_lock(CAST(? AS BIGINT))", {kSchemaLock});
}

// Dictionary rows whose last day of use is over, and budgets of days gone.
template <class Db> void DropUnused(Db& db, std::int64_t cutoff) {
    db.Query("DELETE FROM files WHERE last_day <= ?", {cutoff - kDay});
    db.Query("DELETE FROM attribute_budget WHERE day <= ?", {cutoff - kDay});
}

std::int64_t Today() { return DayOf(static_cast<std::int64_t>(std::time(nullptr))); }

// Multi-row upserts in key order; every row adds its counts to what is stored.
template <class Db, class Map, class Values>
void Upsert(Db& db, const std::string& table, const std::string& columns, const std::string& conflict,
            const std::string& update, const Map& sums, Values values) {
    constexpr std::size_t kChunk = 200;
    std::vector<std::pair<typename Map::key_type, typename Map::mapped_type>> all(sums.begin(), sums.end());
    std::sort(all.begin(), all.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    for (std::size_t start = 0; start < all.size(); start += kChunk) {
        std::size_t end = std::min(all.size(), start + kChunk);
        std::string sql = "INSERT INTO " + table + " (" + columns + ") VALUES ";
        SqlParams params;
        for (std::size_t i = start; i < end; ++i) {
            std::vector<std::int64_t> row(all[i].first.begin(), all[i].first.end());
            values(all[i].second, row);
            sql += i == start ? "(" : ", (";
            for (std::size_t c = 0; c < row.size(); ++c) {
                sql += c ? ", ?" : "?";
                params.emplace_back(row[c]);
            }
            sql += ")";
        }
        sql += " ON CONFLICT (" + conflict + ") DO UPDATE SET " + update;
        db.Query(sql, params);
    }
}

std::string Added(const std::string& table, std::initializer_list<const char*> columns) {
    std::string sql;
    for (const char* c : columns) {
        sql += std::string(sql.empty() ? "" : ", ") + c + " = " + table + "." + c + " + excluded." + c;
    }
    return sql;
}

std::string Later(const std::string& table, const char* column) {
    return std::string(column) + " = CASE WHEN excluded." + column + " > " + table + "." + column + " THEN excluded." +
           column + " ELSE " + table + "." + column + " END";
}

}  // namespace

// ---- What differs ---------------------------------------------------------

std::vector<std::int64_t> ReserveReportIds(SqliteDb& db, std::int64_t n) {
    std::int64_t last =
        db.Query("UPDATE counters SET value = value + ? WHERE name = 'reports' RETURNING value", {n}).at(0).Int(0);
    std::vector<std::int64_t> ids;
    for (std::int64_t id = last - n + 1; id <= last; ++id) ids.push_back(id);
    return ids;
}

std::vector<std::int64_t> ReserveReportIds(PgDb& db, std::int64_t n) {
    std::vector<std::int64_t> ids;
    for (const SqlRow& row : db.Query("SELECT nextval('report_ids') FROM generate_series(1, CAST(? AS BIGINT))", {n})) {
        ids.push_back(row.Int(0));
    }
    return ids;
}

void WriteRawRows(SqliteDb& db, const BatchRows& rows) {
    for (const ReportRow& r : rows.reports) {
        db.Query("INSERT INTO reports (id, received_at, program_id, group_id, exit_code, fail_exit_code, os, "
                 "process_file, image_files, module_files) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                 {r.id, r.receivedAt, r.programId, r.groupId, r.exitCode, r.failExitCode, r.os, r.processFile,
                  r.imageFiles, r.moduleFiles});
    }
    for (const FindingRow& f : rows.findings) {
        db.Query("INSERT INTO report_findings (report_id, received_at, position, kind, module, detail) "
                 "VALUES (?, ?, ?, ?, ?, ?)",
                 {f.reportId, f.receivedAt, f.position, f.kind, f.module, f.detail});
    }
}

void WriteRawRows(PgDb& db, const BatchRows& rows) {
    {
        pqxx::stream_to copy(db.Work(), "reports",
                             std::vector<std::string>{"id", "received_at", "program_id", "group_id", "exit_code",
                                                      "fail_exit_code", "os", "process_file", "image_files",
                                                      "module_files"});
        for (const ReportRow& r : rows.reports) {
            copy << std::make_tuple(r.id, r.receivedAt, r.programId, r.groupId, r.exitCode, r.failExitCode, r.os,
                                    r.processFile, r.imageFiles, r.moduleFiles);
        }
        copy.complete();
    }
    if (rows.findings.empty()) return;
    pqxx::stream_to copy(db.Work(), "report_findings",
                         std::vector<std::string>{"report_id", "received_at", "position", "kind", "module", "detail"});
    for (const FindingRow& f : rows.findings) {
        copy << std::make_tuple(f.reportId, f.receivedAt, f.position, f.kind, f.module, f.detail);
    }
    copy.complete();
}

void EnsurePartitions(SqliteDb&, const std::set<std::int64_t>&, std::set<std::int64_t>&) {}

// Under an advisory lock, so that two processes meeting a new day do not race
// on CREATE TABLE and neither holds the lock while it writes its batch.
void EnsurePartitions(PgDb& db, const std::set<std::int64_t>& days, std::set<std::int64_t>& known) {
    for (std::int64_t day : days) {
        if (known.count(day)) continue;
        Transaction tx(db, true);
        LockSchema(db);
        for (const char* table : kPartitionedTables) db.Exec(CreatePartitionSql(table, day));
        tx.Commit();
        known.insert(day);
    }
}

void DropRawBefore(SqliteDb& db, std::int64_t cutoff, std::set<std::int64_t>&) {
    Transaction tx(db, true);
    db.Query("DELETE FROM report_findings WHERE received_at < ?", {cutoff});
    db.Query("DELETE FROM reports WHERE received_at < ?", {cutoff});
    DropUnused(db, cutoff);
    tx.Commit();
}

// Whole partitions go: a day is dropped once all of it is older than the cutoff.
void DropRawBefore(PgDb& db, std::int64_t cutoff, std::set<std::int64_t>& known) {
    Transaction tx(db, true);
    LockSchema(db);
    for (const char* table : kPartitionedTables) {
        for (const SqlRow& row : db.Query("SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid "
                                          "WHERE i.inhparent = CAST(? AS regclass)",
                                          {std::string(table)})) {
            std::int64_t day = PartitionDay(table, row.Text(0));
            if (day < 0 || day + kDay > cutoff) continue;
            db.Exec("DROP TABLE IF EXISTS " + row.Text(0));
            known.erase(day);
        }
    }
    DropUnused(db, cutoff);
    tx.Commit();
}

void CreateSchema(SqliteDb& db) {
    Transaction tx(db, true);
    db.Exec(SchemaSql(Dialect::Sqlite));
    for (const AddedColumn& added : AddedColumns(Today())) {
        bool there = false;
        for (const SqlRow& column : db.Query("SELECT name FROM pragma_table_info(?)", {added.table})) {
            there = there || column.Text(0) == added.column;
        }
        if (!there) db.Exec("ALTER TABLE " + added.table + " ADD COLUMN " + added.column + " " + added.declaration);
    }
    db.Exec(AfterMigrationSql());
    tx.Commit();
}

void CreateSchema(PgDb& db) {
    Transaction tx(db, true);
    LockSchema(db);
    db.Exec(SchemaSql(Dialect::Postgres));
    for (const AddedColumn& added : AddedColumns(Today())) {
        db.Exec("ALTER TABLE " + added.table + " ADD COLUMN IF NOT EXISTS " + added.column + " " + added.declaration);
    }
    db.Exec(AfterMigrationSql());
    tx.Commit();
}

// ---- What both speak alike -----------------------------------------------

void NewRows::Add(const std::string& key, SqlParams values) {
    if (digestOfKey.count(key)) return;
    const std::string& digest = std::get<std::string>(values.front());
    digestOfKey.emplace(key, digest);
    auto [row, made] = byDigest.try_emplace(digest, Row{{}, std::move(values)});
    row->second.keys.push_back(key);
}

template <class Db>
void InsertNew(Db& db, const std::string& table, const std::string& columns, const NewRows& rows,
               std::unordered_map<std::string, std::int64_t>& ids, const char* newer) {
    std::string marks = "?";  // the digest's, then one for each column
    for (char c : columns) marks += c == ',' ? ", ?" : "";
    const std::string insert = "INSERT INTO " + table + " (digest, " + columns + ") VALUES (" + marks +
                               ", ?) ON CONFLICT (digest) DO " +
                               (newer ? "UPDATE SET " + Later(table, newer) : std::string("NOTHING")) +
                               " RETURNING id";
    const std::string select = "SELECT id FROM " + table + " WHERE digest = ?";
    for (const auto& [digest, row] : rows.byDigest) {
        SqlRows got = db.Query(insert, row.values);
        if (got.empty()) got = db.Query(select, {digest});  // there already, or another process made it first
        for (const std::string& key : row.keys) ids[key] = got.at(0).Int(0);
    }
}

template <class Db>
std::unordered_map<std::string, std::int64_t> ExistingRows(Db& db, const std::string& table, const NewRows& rows) {
    std::unordered_map<std::string, std::int64_t> ids;
    const std::string select = "SELECT id FROM " + table + " WHERE digest = ?";
    for (const auto& [digest, row] : rows.byDigest) {
        SqlRows got = db.Query(select, {digest});
        if (got.empty()) continue;
        for (const std::string& key : row.keys) ids[key] = got[0].Int(0);
    }
    return ids;
}

template <class Db>
std::int64_t TakeAttributeBudget(Db& db, std::int64_t program, std::int64_t day, std::int64_t wanted,
                                 std::int64_t cap) {
    const std::int64_t used =
        db.Query("INSERT INTO attribute_budget (program_id, day, created) VALUES (?, ?, 0) ON CONFLICT "
                 "(program_id, day) DO UPDATE SET created = attribute_budget.created RETURNING created",
                 {program, day})
            .at(0)
            .Int(0);
    const std::int64_t granted = std::clamp<std::int64_t>(cap - used, 0, wanted);
    if (granted > 0) {
        db.Query("UPDATE attribute_budget SET created = created + ? WHERE program_id = ? AND day = ?",
                 {granted, program, day});
    }
    return granted;
}

template <class Db> void WriteAggregates(Db& db, const Aggregates& a) {
    auto spread = [](const auto& v, auto& row) { row.insert(row.end(), v.begin(), v.end()); };
    auto count = [](std::int64_t v, auto& row) { row.push_back(v); };
    Upsert(db, "group_days", "group_id, day, runs, first_seen, last_seen", "group_id, day",
           Added("group_days", {"runs"}) +
               ", first_seen = CASE WHEN excluded.first_seen < group_days.first_seen THEN excluded.first_seen "
               "ELSE group_days.first_seen END, " +
               Later("group_days", "last_seen"),
           a.groupDays, spread);
    Upsert(db, "version_days", "program_id, day, runs, successes", "program_id, day",
           Added("version_days", {"runs", "successes"}), a.versionDays, spread);
    Upsert(db, "group_os_days", "group_id, day, attribute_id, runs", "group_id, day, attribute_id",
           Added("group_os_days", {"runs"}), a.groupOs, count);
    Upsert(db, "group_attributes", "group_id, day, attribute_id, runs", "group_id, day, attribute_id",
           Added("group_attributes", {"runs"}), a.groupAttributes, count);
    Upsert(db, "program_attributes", "program_id, day, attribute_id, failures, successes",
           "program_id, day, attribute_id", Added("program_attributes", {"failures", "successes"}),
           a.programAttributes, spread);
}

#define KORVANE_DIALECT_WRITES(Db)                                                                              \
    template void InsertNew(Db&, const std::string&, const std::string&, const NewRows&,                       \
                            std::unordered_map<std::string, std::int64_t>&, const char*);                       \
    template std::unordered_map<std::string, std::int64_t> ExistingRows(Db&, const std::string&, const NewRows&); \
    template std::int64_t TakeAttributeBudget(Db&, std::int64_t, std::int64_t, std::int64_t, std::int64_t);     \
    template void WriteAggregates(Db&, const Aggregates&);
KORVANE_DIALECT_WRITES(SqliteDb)
KORVANE_DIALECT_WRITES(PgDb)

}  // namespace collector
