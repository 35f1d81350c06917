// The store's one schema, in the two dialects it is spoken in.
#pragma once
#include <string>
#include <vector>

namespace collector {

enum class Dialect { Sqlite, Postgres };

// Every statement that creates the tables and indexes, idempotent.
std::string SchemaSql(Dialect dialect);

// Columns added after stores were first made: a store made before them gets
// them (ALTER TABLE) with the declaration's default for its rows.
struct AddedColumn {
    std::string table, column, declaration;
};
std::vector<AddedColumn> AddedColumns(long long today);
// What needs the added columns: run after they are there.
std::string AfterMigrationSql();

// The per-day partitions of the report tables (PostgreSQL).
inline constexpr const char* kPartitionedTables[] = {"reports", "report_findings"};
std::string PartitionName(const std::string& table, long long day);
std::string CreatePartitionSql(const std::string& table, long long day);
// The day of a partition named by PartitionName, or -1 for any other name.
long long PartitionDay(const std::string& table, const std::string& name);

}  // namespace collector
