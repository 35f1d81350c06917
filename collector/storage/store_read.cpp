// The store's queries, written once for both dialects. Group statistics and
// "what differs" read only the aggregates, so they cost the same whether a
// thousand or a million raw reports are kept; report lists read the raw rows.
#include <algorithm>
#include <limits>
#include <map>
#include <unordered_set>

#include "collector/analysis/differs.h"
#include "collector/storage/engine.h"
#include "collector/storage/pg_db.h"
#include "collector/storage/sqlite_db.h"
#include "collector/storage/text_keys.h"

namespace collector {

namespace {

// The days a period covers, first and last inclusive.
struct DayRange {
    std::int64_t first, last;
};

DayRange DaysOf(const Period& p) {
    return {p.since ? DayOf(p.since) : std::numeric_limits<std::int32_t>::min() * kDay,
            p.until ? DayOf(p.until - 1) : std::numeric_limits<std::int32_t>::max() * kDay};
}

std::vector<std::int64_t> ParseIds(const std::string& text) {
    std::vector<std::int64_t> ids;
    std::int64_t value = 0;
    bool in = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            in = true;
        } else if (in) {
            ids.push_back(value);
            value = 0;
            in = false;
        }
    }
    if (in) ids.push_back(value);
    return ids;
}

GroupSummary SummaryOf(const SqlRow& row) {
    GroupSummary s;
    s.id = row.Int(0);
    s.key = {row.Text(1), row.Text(2), static_cast<std::uint32_t>(row.Int(3)), row.Text(4), row.Text(5)};
    return s;
}

// A list shows the exit code that judged the run (see FailureExitCode).
const std::string kJudgedExitCode = "CASE WHEN r.fail_exit_code >= 0 THEN r.fail_exit_code ELSE r.exit_code END";

constexpr const char* kGroupColumns =
    "g.id, g.program, g.program_version, g.exit_code, g.finding_kind, g.finding_module, g.program_id";

// The trend with a zero for every day without reports.
std::vector<DayCount> FilledTrend(const std::map<std::int64_t, std::int64_t>& days, const Period& period) {
    if (days.empty()) return {};
    std::int64_t first = period.since ? DayOf(period.since) : days.begin()->first;
    std::int64_t last = period.until ? DayOf(period.until - 1) : days.rbegin()->first;
    std::vector<DayCount> trend;
    for (std::int64_t day = first; day <= last; day += kDay) {
        auto found = days.find(day);
        trend.push_back({day, found == days.end() ? 0 : found->second});
    }
    return trend;
}

template <class Db> void AddAttributeCounts(Db& db, const std::string& sql, const SqlParams& params, bool group,
                                            std::map<std::int64_t, AttributeCount>& counts) {
    for (const SqlRow& row : db.Query(sql, params)) {
        AttributeCount& c = counts[row.Int(0)];
        c.dimension = row.Text(1);
        c.value = row.Text(2);
        (group ? c.groupCount : c.controlCount) = row.Int(3);
    }
}

template <class Db>
std::vector<DiffRow> Differs(Db& db, const GroupSummary& group, const DayRange& days, bool& controlIsAll,
                             std::int64_t& controlRuns) {
    std::map<std::int64_t, AttributeCount> counts;
    AddAttributeCounts(db,
                       "SELECT a.id, a.dimension, a.value, SUM(ga.runs) FROM group_attributes ga "
                       "JOIN attributes a ON a.id = ga.attribute_id WHERE ga.group_id = ? AND ga.day >= ? "
                       "AND ga.day <= ? GROUP BY a.id, a.dimension, a.value",
                       {group.id, days.first, days.last}, true, counts);
    std::int64_t control =
        db.Query("SELECT SUM(v.successes) FROM version_days v JOIN programs p ON p.id = v.program_id "
                 "WHERE p.name_key = ? AND p.name = ? AND v.day >= ? AND v.day <= ?",
                 {SearchKey(group.key.program), group.key.program, days.first, days.last})
            .at(0).Int(0);
    controlIsAll = control < kMinControlRuns;
    if (controlIsAll) {
        control = db.Query("SELECT SUM(successes) FROM version_days WHERE day >= ? AND day <= ?",
                           {days.first, days.last}).at(0).Int(0);
    }
    controlRuns = control;
    // Summed first, named after: the sums are few, the daily rows many.
    const std::string programs =
        controlIsAll ? "" : "program_id IN (SELECT id FROM programs WHERE name_key = ? AND name = ?) AND ";
    SqlParams params;
    if (!controlIsAll) params.insert(params.end(), {SearchKey(group.key.program), group.key.program});
    params.insert(params.end(), {days.first, days.last});
    AddAttributeCounts(db,
                       "SELECT a.id, a.dimension, a.value, x.n FROM (SELECT attribute_id, SUM(successes) AS n "
                       "FROM program_attributes WHERE " + programs + "day >= ? AND day <= ? AND successes > 0 "
                       "GROUP BY attribute_id) x JOIN attributes a ON a.id = x.attribute_id",
                       params, false, counts);
    std::vector<AttributeCount> list;
    for (auto& [id, c] : counts) list.push_back(std::move(c));
    return WhatDiffers(list, group.count, control);
}

// Files by id, a fixed number of placeholders per statement so that one
// prepared statement serves every report.
template <class Db> std::unordered_map<std::int64_t, FileEntry> FilesById(Db& db, std::vector<std::int64_t> ids) {
    constexpr std::size_t kChunk = 64;
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::string sql = "SELECT id, name, folder, size, version, created, modified, description, company FROM files "
                      "WHERE id IN (?";
    for (std::size_t i = 1; i < kChunk; ++i) sql += ", ?";
    sql += ")";
    std::unordered_map<std::int64_t, FileEntry> files;
    for (std::size_t start = 0; start < ids.size(); start += kChunk) {
        SqlParams params;
        for (std::size_t i = 0; i < kChunk; ++i) params.emplace_back(ids[std::min(start + i, ids.size() - 1)]);
        for (const SqlRow& r : db.Query(sql, params)) {
            files[r.Int(0)] = {r.Text(1), r.Text(2), r.Text(3), r.Text(4), r.Text(5), r.Text(6), r.Text(7), r.Text(8)};
        }
    }
    return files;
}

template <class Db>
std::unordered_set<std::int64_t> FileIdsWhere(Db& db, const char* column, const std::string& value) {
    std::unordered_set<std::int64_t> ids;
    for (const SqlRow& r : db.Query(std::string("SELECT id FROM files WHERE ") + column + " = ?", {SearchKey(value)})) {
        ids.insert(r.Int(0));
    }
    return ids;
}

bool AnyIn(const std::string& list, const std::unordered_set<std::int64_t>& wanted) {
    for (std::int64_t id : ParseIds(list)) {
        if (wanted.count(id)) return true;
    }
    return false;
}

}  // namespace

template <class Db> std::vector<GroupSummary> QueryGroups(Db& db, const Period& period, std::int64_t onlyGroup) {
    const DayRange days = DaysOf(period);
    std::vector<GroupSummary> groups;
    std::unordered_map<std::int64_t, std::size_t> index;
    std::unordered_map<std::int64_t, std::int64_t> programOf;
    for (const SqlRow& row :
         db.Query(std::string("SELECT ") + kGroupColumns +
                      ", SUM(d.runs) FROM group_days d JOIN failure_groups g ON g.id = d.group_id "
                      "WHERE d.day >= ? AND d.day <= ? AND (CAST(? AS BIGINT) = 0 OR d.group_id = ?) GROUP BY " +
                      kGroupColumns + " ORDER BY SUM(d.runs) DESC, g.id",
                  {days.first, days.last, onlyGroup, onlyGroup})) {
        GroupSummary s = SummaryOf(row);
        s.count = row.Int(7);
        programOf[s.id] = row.Int(6);
        index[s.id] = groups.size();
        groups.push_back(std::move(s));
    }
    if (groups.empty()) return groups;

    std::unordered_map<std::int64_t, std::int64_t> versionRuns;
    for (const SqlRow& row : db.Query("SELECT program_id, SUM(runs) FROM version_days WHERE day >= ? AND day <= ? "
                                      "GROUP BY program_id",
                                      {days.first, days.last})) {
        versionRuns[row.Int(0)] = row.Int(1);
    }
    for (const SqlRow& row : db.Query("SELECT group_id, MIN(first_seen), MAX(last_seen) FROM group_days "
                                      "WHERE CAST(? AS BIGINT) = 0 OR group_id = ? GROUP BY group_id",
                                      {onlyGroup, onlyGroup})) {
        auto found = index.find(row.Int(0));
        if (found == index.end()) continue;
        GroupSummary& s = groups[found->second];
        s.firstSeen = row.Int(1);
        s.lastSeen = row.Int(2);
        s.isNew = period.since != 0 && s.firstSeen >= period.since;
    }
    std::unordered_map<std::int64_t, std::map<std::int64_t, std::int64_t>> perDay;
    for (const SqlRow& row : db.Query("SELECT group_id, day, runs FROM group_days WHERE day >= ? AND day <= ? "
                                      "AND (CAST(? AS BIGINT) = 0 OR group_id = ?)",
                                      {days.first, days.last, onlyGroup, onlyGroup})) {
        perDay[row.Int(0)][row.Int(1)] = row.Int(2);
    }
    for (const SqlRow& row : db.Query("SELECT o.group_id, a.value, SUM(o.runs) FROM group_os_days o "
                                      "JOIN attributes a ON a.id = o.attribute_id WHERE o.day >= ? AND o.day <= ? "
                                      "AND (CAST(? AS BIGINT) = 0 OR o.group_id = ?) GROUP BY o.group_id, a.value",
                                      {days.first, days.last, onlyGroup, onlyGroup})) {
        auto found = index.find(row.Int(0));
        if (found != index.end()) groups[found->second].osVersions.emplace_back(row.Text(1), row.Int(2));
    }
    for (GroupSummary& s : groups) {
        s.versionRuns = versionRuns[programOf[s.id]];
        s.failureRate = s.versionRuns > 0 ? double(s.count) / double(s.versionRuns) : 0;
        s.perDay = FilledTrend(perDay[s.id], period);
        std::stable_sort(s.osVersions.begin(), s.osVersions.end(),
                         [](const auto& x, const auto& y) { return x.second > y.second; });
    }
    return groups;
}

template <class Db> std::optional<GroupDetail> QueryGroup(Db& db, std::int64_t id, const Period& period) {
    SqlRows known = db.Query(std::string("SELECT ") + kGroupColumns + " FROM failure_groups g WHERE g.id = ?", {id});
    if (known.empty()) return std::nullopt;
    GroupDetail detail;
    std::vector<GroupSummary> found = QueryGroups(db, period, id);
    if (found.empty()) {  // no report in the period: counts stay 0
        detail.summary = SummaryOf(known[0]);
        SqlRows seen = db.Query("SELECT MIN(first_seen), MAX(last_seen) FROM group_days WHERE group_id = ?", {id});
        detail.summary.firstSeen = seen.at(0).Int(0);
        detail.summary.lastSeen = seen.at(0).Int(1);
    } else {
        detail.summary = std::move(found[0]);
    }
    detail.differs =
        Differs(db, detail.summary, DaysOf(period), detail.controlIsAllPrograms, detail.controlRuns);
    ReportFilter filter;
    filter.groupId = id;
    filter.period = period;
    filter.limit = 100;
    detail.reports = QueryReports(db, filter);
    return detail;
}

template <class Db> std::vector<ReportSummary> QueryReports(Db& db, const ReportFilter& filter) {
    if (filter.limit == 0) return {};
    std::unordered_set<std::int64_t> modules, companies, images;
    if (!filter.module.empty() && (modules = FileIdsWhere(db, "name_key", filter.module)).empty()) return {};
    if (!filter.company.empty() && (companies = FileIdsWhere(db, "company_key", filter.company)).empty()) return {};
    if (!filter.image.empty() && (images = FileIdsWhere(db, "name_key", filter.image)).empty()) return {};
    const bool byFiles = !modules.empty() || !companies.empty() || !images.empty();

    std::string sql =
        "SELECT r.id, r.received_at, p.name, p.version, r.os, " + kJudgedExitCode + ", r.group_id, r.image_files, r.module_files, "
        "COALESCE(g.finding_kind, ''), COALESCE(g.finding_module, '') FROM reports r "
        "JOIN programs p ON p.id = r.program_id LEFT JOIN failure_groups g ON g.id = r.group_id WHERE r.id < ?";
    SqlParams params{std::numeric_limits<std::int64_t>::max()};
    auto where = [&](const std::string& condition, SqlParam value) {
        sql += condition;
        params.push_back(std::move(value));
    };
    if (filter.period.since) where(" AND r.received_at >= ?", filter.period.since);
    if (filter.period.until) where(" AND r.received_at < ?", filter.period.until);
    if (filter.groupId) where(" AND r.group_id = ?", filter.groupId);
    if (filter.exitCode) where(" AND " + kJudgedExitCode + " = ?", std::int64_t{*filter.exitCode});
    if (!filter.program.empty()) where(" AND p.name_key = ?", SearchKey(filter.program));
    // Without file conditions the database pages; with them, rows are read in
    // chunks (newest first) and their file lists checked here.
    const std::int64_t chunk = byFiles ? 2000 : static_cast<std::int64_t>(filter.limit);
    sql += " ORDER BY r.id DESC LIMIT ?";
    params.push_back(chunk);
    if (!byFiles) {
        sql += " OFFSET ?";
        params.push_back(static_cast<std::int64_t>(filter.offset));
    }

    std::vector<ReportSummary> out;
    std::size_t skipped = 0;
    for (;;) {
        SqlRows rows = db.Query(sql, params);
        for (const SqlRow& r : rows) {
            params[0] = r.Int(0);
            if (byFiles && ((!modules.empty() && !AnyIn(r.Text(8), modules)) ||
                            (!companies.empty() && !AnyIn(r.Text(8), companies)) ||
                            (!images.empty() && !AnyIn(r.Text(7), images)))) {
                continue;
            }
            if (byFiles && skipped < filter.offset) {
                ++skipped;
                continue;
            }
            out.push_back({r.Int(0), r.Int(1), r.Text(2), r.Text(3), r.Text(4), static_cast<std::uint32_t>(r.Int(5)),
                           r.Text(9), r.Text(10), r.Int(6)});
            if (out.size() >= filter.limit) return out;
        }
        if (!byFiles || static_cast<std::int64_t>(rows.size()) < chunk) return out;
    }
}

template <class Db> std::optional<Report> QueryReport(Db& db, std::int64_t id) {
    SqlRows rows = db.Query("SELECT id, received_at, exit_code, os, process_file, image_files, module_files, group_id, "
                            "fail_exit_code FROM reports WHERE id = ?",
                            {id});
    if (rows.empty()) return std::nullopt;
    const SqlRow& r = rows[0];
    Report report;
    report.id = r.Int(0);
    report.receivedAt = r.Int(1);
    report.exitCode = static_cast<std::uint32_t>(r.Int(2));
    report.os = r.Text(3);
    report.groupId = r.Int(7);
    if (r.Int(8) >= 0) report.failExitCode = static_cast<std::uint32_t>(r.Int(8));
    std::vector<std::int64_t> images = ParseIds(r.Text(5)), modules = ParseIds(r.Text(6));
    std::vector<std::int64_t> all = images;
    all.insert(all.end(), modules.begin(), modules.end());
    all.push_back(r.Int(4));
    auto files = FilesById(db, all);
    report.process = files[r.Int(4)];
    for (std::int64_t f : images) report.files.push_back(files[f]);
    for (std::int64_t f : modules) report.modules.push_back(files[f]);
    for (const SqlRow& f : db.Query("SELECT kind, module, detail FROM report_findings WHERE report_id = ? "
                                    "ORDER BY position",
                                    {id})) {
        report.verdict.push_back({f.Text(0), f.Text(1), f.Text(2)});
    }
    return report;
}

// Reads only the period's sums of module attributes (bounded by the cap on
// new attributes a day), never the whole dictionary; answers the strongest rows.
template <class Db> std::vector<DiffRow> QueryFailureModules(Db& db, const Period& period) {
    constexpr std::size_t kMaxRows = 200;
    const DayRange days = DaysOf(period);
    std::map<std::string, ProgramCounts> programs;
    for (const SqlRow& r : db.Query("SELECT p.name, SUM(v.runs), SUM(v.successes) FROM version_days v "
                                    "JOIN programs p ON p.id = v.program_id WHERE v.day >= ? AND v.day <= ? "
                                    "GROUP BY p.name",
                                    {days.first, days.last})) {
        ProgramCounts& p = programs[r.Text(0)];
        p.failures += r.Int(1) - r.Int(2);
        p.successes += r.Int(2);
    }
    std::map<std::string, std::map<std::int64_t, AttributeCount>> modules;
    for (const SqlRow& r : db.Query("SELECT p.name, x.attribute_id, a.value, x.failures, x.successes FROM "
                                    "(SELECT program_id, attribute_id, SUM(failures) AS failures, "
                                    "SUM(successes) AS successes FROM program_attributes WHERE day >= ? AND day <= ? "
                                    "GROUP BY program_id, attribute_id) x JOIN attributes a ON a.id = x.attribute_id "
                                    "JOIN programs p ON p.id = x.program_id WHERE a.dimension = 'module'",
                                    {days.first, days.last})) {
        AttributeCount& c = modules[r.Text(0)][r.Int(1)];
        c.dimension = "module";
        c.value = r.Text(2);
        c.groupCount += r.Int(3);
        c.controlCount += r.Int(4);
    }
    std::vector<ProgramCounts> list;
    for (auto& [name, counts] : programs) {
        counts.program = name;
        for (auto& [id, c] : modules[name]) counts.modules.push_back(std::move(c));
        list.push_back(std::move(counts));
    }
    std::vector<DiffRow> rows = ModulesFailingAcrossPrograms(list);
    if (rows.size() > kMaxRows) rows.resize(kMaxRows);
    return rows;
}

#define KORVANE_QUERIES(Db)                                                                   \
    template std::vector<GroupSummary> QueryGroups(Db&, const Period&, std::int64_t);         \
    template std::optional<GroupDetail> QueryGroup(Db&, std::int64_t, const Period&);         \
    template std::vector<ReportSummary> QueryReports(Db&, const ReportFilter&);               \
    template std::optional<Report> QueryReport(Db&, std::int64_t);                            \
    template std::vector<DiffRow> QueryFailureModules(Db&, const Period&);
KORVANE_QUERIES(SqliteDb)
KORVANE_QUERIES(PgDb)

}  // namespace collector
