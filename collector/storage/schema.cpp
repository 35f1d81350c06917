// The schema. Raw reports (reports, report_findings) refer to the dictionaries
// (programs, failure_groups, files, attributes) by id and are partitioned by
// day on PostgreSQL; the *_days tables are the aggregates that outlive them.
// Dictionary rows are identified by a digest so that no index holds a long
// hostile text. The dialects differ only in the tokens substituted below.
#include "collector/storage/schema.h"

#include <ctime>
#include <string_view>

namespace collector {

namespace {

constexpr std::string_view kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS counters (name TEXT PRIMARY KEY, value BIGINT NOT NULL);
CREATE TABLE IF NOT EXISTS revoked_sessions (digest TEXT PRIMARY KEY, expires BIGINT NOT NULL);
INSERT INTO counters (name, value) VALUES ('reports', 0) ON CONFLICT (name) DO NOTHING;
{REPORT_SEQUENCE}
CREATE TABLE IF NOT EXISTS programs (
    id {ID}, digest TEXT NOT NULL UNIQUE, name TEXT NOT NULL, version TEXT NOT NULL, name_key TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS programs_name_key ON programs (name_key);
CREATE TABLE IF NOT EXISTS failure_groups (
    id {ID}, digest TEXT NOT NULL UNIQUE, program_id BIGINT NOT NULL, program TEXT NOT NULL,
    program_version TEXT NOT NULL, exit_code BIGINT NOT NULL, finding_kind TEXT NOT NULL,
    finding_module TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS files (
    id {ID}, digest TEXT NOT NULL UNIQUE, name TEXT NOT NULL, folder TEXT NOT NULL, size TEXT NOT NULL,
    version TEXT NOT NULL, created TEXT NOT NULL, modified TEXT NOT NULL, description TEXT NOT NULL,
    company TEXT NOT NULL, name_key TEXT NOT NULL, company_key TEXT NOT NULL, last_day BIGINT NOT NULL);
CREATE INDEX IF NOT EXISTS files_name_key ON files (name_key);
CREATE INDEX IF NOT EXISTS files_company_key ON files (company_key);
CREATE TABLE IF NOT EXISTS attributes (
    id {ID}, digest TEXT NOT NULL UNIQUE, dimension TEXT NOT NULL, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS reports (
    id BIGINT NOT NULL, received_at BIGINT NOT NULL, program_id BIGINT NOT NULL, group_id BIGINT NOT NULL,
    exit_code BIGINT NOT NULL, os TEXT NOT NULL, process_file BIGINT NOT NULL, image_files TEXT NOT NULL,
    module_files TEXT NOT NULL, fail_exit_code BIGINT NOT NULL) {PARTITIONED};
CREATE INDEX IF NOT EXISTS reports_id ON reports (id);
CREATE INDEX IF NOT EXISTS reports_received ON reports (received_at);
CREATE INDEX IF NOT EXISTS reports_group ON reports (group_id, id);
CREATE INDEX IF NOT EXISTS reports_program ON reports (program_id, id);
CREATE TABLE IF NOT EXISTS report_findings (
    report_id BIGINT NOT NULL, received_at BIGINT NOT NULL, position BIGINT NOT NULL, kind TEXT NOT NULL,
    module TEXT NOT NULL, detail TEXT NOT NULL) {PARTITIONED};
CREATE INDEX IF NOT EXISTS report_findings_report ON report_findings (report_id);
CREATE INDEX IF NOT EXISTS report_findings_received ON report_findings (received_at);
CREATE TABLE IF NOT EXISTS group_days (
    group_id BIGINT NOT NULL, day BIGINT NOT NULL, runs BIGINT NOT NULL, first_seen BIGINT NOT NULL,
    last_seen BIGINT NOT NULL, PRIMARY KEY (group_id, day));
CREATE TABLE IF NOT EXISTS version_days (
    program_id BIGINT NOT NULL, day BIGINT NOT NULL, runs BIGINT NOT NULL, successes BIGINT NOT NULL,
    PRIMARY KEY (program_id, day));
CREATE INDEX IF NOT EXISTS version_days_day ON version_days (day);
CREATE TABLE IF NOT EXISTS group_os_days (
    group_id BIGINT NOT NULL, day BIGINT NOT NULL, attribute_id BIGINT NOT NULL, runs BIGINT NOT NULL,
    PRIMARY KEY (group_id, day, attribute_id));
CREATE TABLE IF NOT EXISTS group_attributes (
    group_id BIGINT NOT NULL, day BIGINT NOT NULL, attribute_id BIGINT NOT NULL, runs BIGINT NOT NULL,
    PRIMARY KEY (group_id, day, attribute_id));
CREATE TABLE IF NOT EXISTS attribute_budget (
    program_id BIGINT NOT NULL, day BIGINT NOT NULL, created BIGINT NOT NULL, PRIMARY KEY (program_id, day));
CREATE TABLE IF NOT EXISTS refused_days (
    day BIGINT NOT NULL, reason TEXT NOT NULL, reports BIGINT NOT NULL, PRIMARY KEY (day, reason));
CREATE TABLE IF NOT EXISTS program_attributes (
    program_id BIGINT NOT NULL, day BIGINT NOT NULL, attribute_id BIGINT NOT NULL, failures BIGINT NOT NULL,
    successes BIGINT NOT NULL, PRIMARY KEY (program_id, day, attribute_id));
)SQL";

void Substitute(std::string& text, std::string_view token, std::string_view value) {
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size())) {
        text.replace(at, token.size(), value);
    }
}

}  // namespace

std::string SchemaSql(Dialect dialect) {
    std::string sql(kSchema);
    bool pg = dialect == Dialect::Postgres;
    Substitute(sql, "{ID}", pg ? "BIGSERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY");
    Substitute(sql, "{PARTITIONED}", pg ? "PARTITION BY RANGE (received_at)" : "");
    Substitute(sql, "{REPORT_SEQUENCE}", pg ? "CREATE SEQUENCE IF NOT EXISTS report_ids;" : "");
    return sql;
}

std::vector<AddedColumn> AddedColumns(long long today) {
    const std::string day = std::to_string(today);
    // A file kept from before stays another retention period; an old report had no failexitcode.
    return {{"files", "last_day", "BIGINT NOT NULL DEFAULT " + day},
            {"reports", "fail_exit_code", "BIGINT NOT NULL DEFAULT -1"}};
}

std::string AfterMigrationSql() { return "CREATE INDEX IF NOT EXISTS files_last_day ON files (last_day);"; }

std::string PartitionName(const std::string& table, long long day) {
    std::time_t t = static_cast<std::time_t>(day);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &tm);
    return table + "_d" + text;
}

long long PartitionDay(const std::string& table, const std::string& name) {
    const std::string prefix = table + "_d";
    if (name.size() != prefix.size() + 8 || name.compare(0, prefix.size(), prefix) != 0) return -1;
    std::tm tm{};
    const char* end = strptime(name.c_str() + prefix.size(), "%Y%m%d", &tm);
    if (!end || *end) return -1;
    return static_cast<long long>(timegm(&tm));
}

std::string CreatePartitionSql(const std::string& table, long long day) {
    return "CREATE TABLE IF NOT EXISTS " + PartitionName(table, day) + " PARTITION OF " + table +
           " FOR VALUES FROM (" + std::to_string(day) + ") TO (" + std::to_string(day + 86400) + ")";
}

}  // namespace collector

