// Storing a batch of reports: the dictionaries first (new rows in digest
// order, so that concurrent writers on one PostgreSQL database always take
// their locks in the same order and never deadlock), then the raw rows (COPY
// on PostgreSQL), then the aggregates, all in one transaction.
#include <algorithm>
#include <array>
#include <map>
#include <unordered_map>

#include "collector/storage/engine.h"
#include "collector/storage/digest.h"
#include "collector/storage/text_keys.h"

namespace collector {

namespace {

struct ReportRow {
    std::int64_t id = 0, receivedAt = 0, programId = 0, groupId = 0, exitCode = 0;
    std::string os;
    std::int64_t processFile = 0;
    std::string imageFiles, moduleFiles;  // file ids in the report's order, blank-separated
};

struct FindingRow {
    std::int64_t reportId = 0, receivedAt = 0, position = 0;
    std::string kind, module, detail;
};

// ---- The dialects' differences in writing -------------------------------

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

void WriteRawRows(SqliteDb& db, const std::vector<ReportRow>& reports, const std::vector<FindingRow>& findings) {
    for (const ReportRow& r : reports) {
        db.Query("INSERT INTO reports (id, received_at, program_id, group_id, exit_code, os, process_file, "
                 "image_files, module_files) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                 {r.id, r.receivedAt, r.programId, r.groupId, r.exitCode, r.os, r.processFile, r.imageFiles,
                  r.moduleFiles});
    }
    for (const FindingRow& f : findings) {
        db.Query("INSERT INTO report_findings (report_id, received_at, position, kind, module, detail) "
                 "VALUES (?, ?, ?, ?, ?, ?)",
                 {f.reportId, f.receivedAt, f.position, f.kind, f.module, f.detail});
    }
}

void WriteRawRows(PgDb& db, const std::vector<ReportRow>& reports, const std::vector<FindingRow>& findings) {
    {
        pqxx::stream_to copy(db.Work(), "reports",
                             std::vector<std::string>{"id", "received_at", "program_id", "group_id", "exit_code", "os",
                                                      "process_file", "image_files", "module_files"});
        for (const ReportRow& r : reports) {
            copy << std::make_tuple(r.id, r.receivedAt, r.programId, r.groupId, r.exitCode, r.os, r.processFile,
                                    r.imageFiles, r.moduleFiles);
        }
        copy.complete();
    }
    if (findings.empty()) return;
    pqxx::stream_to copy(db.Work(), "report_findings",
                         std::vector<std::string>{"report_id", "received_at", "position", "kind", "module", "detail"});
    for (const FindingRow& f : findings) {
        copy << std::make_tuple(f.reportId, f.receivedAt, f.position, f.kind, f.module, f.detail);
    }
    copy.complete();
}

// Creating or dropping tables: one process at a time, until its transaction ends.
void LockSchema(PgDb& db) {
    constexpr std::int64_t kSchemaLock = 0x6b6f7276;  // "korv"
    db.Query("SELECT pg_advisory_xact_lock(CAST(? AS BIGINT))", {kSchemaLock});
}

void EnsurePartitions(SqliteDb&, const std::set<std::int64_t>&, std::set<std::int64_t>&) {}

// Each new day's partitions are made in a short transaction of their own under
// an advisory lock, so that two processes meeting a new day do not race on
// CREATE TABLE and neither holds the lock while it writes its batch.
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
    tx.Commit();
}

// ---- Dictionaries --------------------------------------------------------

std::string JoinKey(std::initializer_list<std::string_view> fields) {
    std::string key;
    for (std::string_view f : fields) {
        key += std::to_string(f.size());
        key += ':';
        key += f;
    }
    return key;
}

std::string FileKey(const FileEntry& f) {
    return JoinKey({f.name, f.folder, f.size, f.productVersion, f.created, f.modified, f.description, f.company});
}

// New rows of one dictionary, inserted in digest order. Texts that differ
// only in what cleaning replaced share one row, and so one digest.
struct NewRows {
    struct Row {
        std::vector<std::string> keys;
        SqlParams values;  // digest first
    };
    std::map<std::string, Row> byDigest;
    std::unordered_map<std::string, std::string> digestOfKey;

    void Add(const std::string& key, SqlParams values) {
        if (digestOfKey.count(key)) return;
        const std::string& digest = std::get<std::string>(values.front());
        digestOfKey.emplace(key, digest);
        auto [row, made] = byDigest.try_emplace(digest, Row{{}, std::move(values)});
        row->second.keys.push_back(key);
    }
};

template <class Db>
void InsertNew(Db& db, const std::string& table, const std::string& columns, const NewRows& rows,
               std::unordered_map<std::string, std::int64_t>& ids) {
    std::string marks = "?";  // the digest's, then one for each column
    for (char c : columns) marks += c == ',' ? ", ?" : "";
    const std::string insert = "INSERT INTO " + table + " (digest, " + columns + ") VALUES (" + marks +
                               ", ?) ON CONFLICT (digest) DO NOTHING RETURNING id";
    const std::string select = "SELECT id FROM " + table + " WHERE digest = ?";
    for (const auto& [digest, row] : rows.byDigest) {
        SqlRows got = db.Query(insert, row.values);
        if (got.empty()) got = db.Query(select, {digest});  // there already, or another process made it first
        for (const std::string& key : row.keys) ids[key] = got.at(0).Int(0);
    }
}

// ---- The batch -----------------------------------------------------------

// Sums keyed by ids, written sorted so that writers lock rows in one order.
template <std::size_t N> struct IdsHash {
    std::size_t operator()(const std::array<std::int64_t, N>& k) const {
        std::size_t h = 0;
        for (std::int64_t v : k) h = h * 1000003 ^ std::hash<std::int64_t>()(v);
        return h;
    }
};
template <std::size_t N, class V> using Sums = std::unordered_map<std::array<std::int64_t, N>, V, IdsHash<N>>;

struct Aggregates {
    Sums<2, std::array<std::int64_t, 3>> groupDays;  // runs, first seen, last seen
    Sums<2, std::array<std::int64_t, 2>> versionDays;  // runs, successes
    Sums<3, std::int64_t> groupOs, groupAttributes;
    Sums<3, std::array<std::int64_t, 2>> programAttributes;  // failures, successes
};

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

template <class Db> void WriteAggregates(Db& db, const Aggregates& a) {
    auto spread = [](const auto& v, auto& row) { row.insert(row.end(), v.begin(), v.end()); };
    auto count = [](std::int64_t v, auto& row) { row.push_back(v); };
    Upsert(db, "group_days", "group_id, day, runs, first_seen, last_seen", "group_id, day",
           Added("group_days", {"runs"}) +
               ", first_seen = CASE WHEN excluded.first_seen < group_days.first_seen THEN excluded.first_seen "
               "ELSE group_days.first_seen END, last_seen = CASE WHEN excluded.last_seen > group_days.last_seen "
               "THEN excluded.last_seen ELSE group_days.last_seen END",
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

// The keys of one report's dictionary rows, worked out once.
struct Pending {
    std::string program, group, process, os;  // group empty: a success
    std::vector<std::string> images, modules;
};

std::string ProgramKey(const Report& r) { return JoinKey({r.process.name, r.process.productVersion}); }
std::string GroupKeyText(const GroupKey& k) {
    return JoinKey({k.program, k.programVersion, std::to_string(k.exitCode), k.findingKind, k.findingModule});
}
std::string ModuleKey(const FileEntry& f) { return JoinKey({"module", FoldCase(f.name), f.productVersion}); }
std::string ImageKey(const FileEntry& f) { return JoinKey({"image", FoldCase(f.name)}); }

// One batch's work, from the reports to the rows.
template <class Db> class BatchWriter {
public:
    BatchWriter(Db& db, DictionaryCache& cache) : db_(db), cache_(cache) {}

    void Write(std::vector<Report>& batch) {
        std::vector<Pending> pending;
        pending.reserve(batch.size());
        for (const Report& r : batch) pending.push_back(Prepare(r));
        InsertNew(db_, "programs", "name, version, name_key", programs_, fresh_.programs);
        for (std::size_t i = 0; i < batch.size(); ++i) AddGroup(batch[i], pending[i]);
        InsertNew(db_, "failure_groups",
                  "program_id, program, program_version, exit_code, finding_kind, finding_module", groups_,
                  fresh_.groups);
        InsertNew(db_, "files",
                  "name, folder, size, version, created, modified, description, company, name_key, company_key",
                  files_, fresh_.files);
        for (std::size_t i = 0; i < batch.size(); ++i) AddFileAttributes(batch[i], pending[i]);
        InsertNew(db_, "attributes", "dimension, value", attributes_, fresh_.attributes);

        ids_ = ReserveReportIds(db_, static_cast<std::int64_t>(batch.size()));
        std::vector<ReportRow> rows;
        std::vector<FindingRow> findings;
        Aggregates aggregates;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            rows.push_back(RowOf(batch[i], pending[i], ids_.at(i), findings, aggregates));
        }
        WriteRawRows(db_, rows, findings);
        WriteAggregates(db_, aggregates);
    }

    // After the commit: the new dictionary rows are known for good.
    void Keep(std::vector<Report>& batch) {
        if (cache_.Size() > 500000) cache_.Clear();  // a flood of distinct files must not grow the writer forever
        auto merge = [](auto& into, auto& from) { into.insert(from.begin(), from.end()); };
        merge(cache_.programs, fresh_.programs);
        merge(cache_.groups, fresh_.groups);
        merge(cache_.files, fresh_.files);
        merge(cache_.attributes, fresh_.attributes);
        merge(cache_.moduleAttribute, fresh_.moduleAttribute);
        merge(cache_.imageAttribute, fresh_.imageAttribute);
        for (std::size_t i = 0; i < batch.size(); ++i) batch[i].id = ids_[i];
    }

private:
    std::int64_t Id(const std::unordered_map<std::string, std::int64_t> DictionaryCache::*table,
                    const std::string& key) const {
        auto c = (cache_.*table).find(key);
        if (c != (cache_.*table).end()) return c->second;
        return (fresh_.*table).at(key);
    }

    const std::string& AddFile(const FileEntry& f, std::string& key) {
        key = FileKey(f);
        if (cache_.files.count(key)) return key;
        std::string name = CleanText(f.name), folder = CleanText(f.folder), size = CleanText(f.size),
                    version = CleanText(f.productVersion), created = CleanText(f.created),
                    modified = CleanText(f.modified), description = CleanText(f.description),
                    company = CleanText(f.company);
        std::string digest = DigestOf({name, folder, size, version, created, modified, description, company});
        files_.Add(key, {digest, name, folder, size, version, created, modified, description, company,
                         SearchKey(name), SearchKey(company)});
        return key;
    }

    void AddAttribute(const std::string& key, const std::string& dimension, const std::string& value) {
        if (cache_.attributes.count(key)) return;
        std::string clean = CleanText(value);
        attributes_.Add(key, {DigestOf({dimension, FoldCase(clean)}), dimension, clean});
    }

    Pending Prepare(const Report& r) {
        Pending p;
        p.program = ProgramKey(r);
        if (!cache_.programs.count(p.program)) {
            std::string name = CleanText(r.process.name), version = CleanText(r.process.productVersion);
            programs_.Add(p.program, {DigestOf({name, version}), name, version, SearchKey(name)});
        }
        AddFile(r.process, p.process);
        p.images.resize(r.files.size());
        for (std::size_t k = 0; k < r.files.size(); ++k) AddFile(r.files[k], p.images[k]);
        p.modules.resize(r.modules.size());
        for (std::size_t k = 0; k < r.modules.size(); ++k) AddFile(r.modules[k], p.modules[k]);
        p.os = JoinKey({"os", r.os});
        AddAttribute(p.os, "os", r.os);
        return p;
    }

    void AddGroup(const Report& r, Pending& p) {
        if (IsSuccess(r)) return;
        GroupKey k = SignatureOf(r);
        p.group = GroupKeyText(k);
        if (cache_.groups.count(p.group)) return;
        GroupKey c{CleanText(k.program), CleanText(k.programVersion), k.exitCode, CleanText(k.findingKind),
                   CleanText(k.findingModule)};
        groups_.Add(p.group, {DigestOf({c.program, c.programVersion, std::to_string(c.exitCode), c.findingKind,
                                        c.findingModule}),
                              Id(&DictionaryCache::programs, p.program), c.program, c.programVersion,
                              std::int64_t{c.exitCode}, c.findingKind, c.findingModule});
    }

    // Attributes of files are remembered per file id, so that a known file
    // costs no case folding at all.
    void AddFileAttributes(const Report& r, const Pending& p) {
        for (std::size_t k = 0; k < r.modules.size(); ++k) {
            if (!cache_.moduleAttribute.count(Id(&DictionaryCache::files, p.modules[k]))) {
                AddAttribute(ModuleKey(r.modules[k]), "module", r.modules[k].name + " " + r.modules[k].productVersion);
            }
        }
        for (std::size_t k = 0; k < r.files.size(); ++k) {
            if (!cache_.imageAttribute.count(Id(&DictionaryCache::files, p.images[k]))) {
                AddAttribute(ImageKey(r.files[k]), "image", r.files[k].name);
            }
        }
    }

    std::int64_t AttributeOfFile(std::int64_t file, const FileEntry& f, bool module) {
        auto table = module ? &DictionaryCache::moduleAttribute : &DictionaryCache::imageAttribute;
        if (auto c = (cache_.*table).find(file); c != (cache_.*table).end()) return c->second;
        if (auto c = (fresh_.*table).find(file); c != (fresh_.*table).end()) return c->second;
        std::int64_t id = Id(&DictionaryCache::attributes, module ? ModuleKey(f) : ImageKey(f));
        (fresh_.*table).emplace(file, id);
        return id;
    }

    ReportRow RowOf(const Report& r, const Pending& p, std::int64_t id, std::vector<FindingRow>& findings,
                    Aggregates& a) {
        ReportRow row;
        row.id = id;
        row.receivedAt = r.receivedAt;
        row.programId = Id(&DictionaryCache::programs, p.program);
        row.groupId = p.group.empty() ? 0 : Id(&DictionaryCache::groups, p.group);
        row.exitCode = r.exitCode;
        row.os = CleanText(r.os);
        row.processFile = Id(&DictionaryCache::files, p.process);
        // A report counts once for each attribute it has, however often it has it.
        std::vector<std::int64_t> present;
        present.reserve(p.images.size() + p.modules.size() + 1);
        auto list = [&](const std::vector<FileEntry>& files, const std::vector<std::string>& keys, std::string& out,
                        bool module) {
            for (std::size_t k = 0; k < keys.size(); ++k) {
                std::int64_t file = Id(&DictionaryCache::files, keys[k]);
                if (k) out += ' ';
                out += std::to_string(file);
                present.push_back(AttributeOfFile(file, files[k], module));
            }
        };
        list(r.files, p.images, row.imageFiles, false);
        list(r.modules, p.modules, row.moduleFiles, true);
        for (std::size_t i = 0; i < r.verdict.size(); ++i) {
            const Finding& f = r.verdict[i];
            findings.push_back({id, r.receivedAt, static_cast<std::int64_t>(i), CleanText(f.kind), CleanText(f.module),
                                CleanText(f.detail)});
        }
        std::int64_t os = Id(&DictionaryCache::attributes, p.os);
        present.push_back(os);
        std::sort(present.begin(), present.end());
        present.erase(std::unique(present.begin(), present.end()), present.end());
        Count(row, os, present, a);
        return row;
    }

    static void Count(const ReportRow& row, std::int64_t os, const std::vector<std::int64_t>& present, Aggregates& a) {
        std::int64_t day = DayOf(row.receivedAt);
        const bool success = row.groupId == 0;
        auto& version = a.versionDays[{row.programId, day}];
        ++version[0];
        version[1] += success;
        for (std::int64_t attribute : present) ++a.programAttributes[{row.programId, day, attribute}][success];
        if (success) return;
        auto& g =
            a.groupDays.try_emplace({row.groupId, day}, std::array<std::int64_t, 3>{0, row.receivedAt, row.receivedAt})
                .first->second;
        ++g[0];
        g[1] = std::min(g[1], row.receivedAt);
        g[2] = std::max(g[2], row.receivedAt);
        ++a.groupOs[{row.groupId, day, os}];
        for (std::int64_t attribute : present) ++a.groupAttributes[{row.groupId, day, attribute}];
    }

    Db& db_;
    DictionaryCache& cache_;
    NewRows programs_, groups_, files_, attributes_;
    DictionaryCache fresh_;
    std::vector<std::int64_t> ids_;
};

}  // namespace

template <class Db> void InsertBatch(Backend<Db>& backend, std::vector<Report>& batch) {
    if (batch.empty()) return;
    std::lock_guard lock(backend.writeMutex);
    Db& db = backend.Writer();
    std::set<std::int64_t> days;
    for (const Report& r : batch) days.insert(DayOf(r.receivedAt));
    EnsurePartitions(db, days, backend.cache.partitionDays);
    BatchWriter<Db> writer(db, backend.cache);
    Transaction tx(db, true);
    writer.Write(batch);
    tx.Commit();
    writer.Keep(batch);
}

template <class Db> void DropBefore(Backend<Db>& backend, std::int64_t cutoff) {
    std::lock_guard lock(backend.writeMutex);
    DropRawBefore(backend.Writer(), cutoff, backend.cache.partitionDays);
}

void CreateSchema(SqliteDb& db) { db.Exec(SchemaSql(Dialect::Sqlite)); }

void CreateSchema(PgDb& db) {
    Transaction tx(db, true);
    LockSchema(db);
    db.Exec(SchemaSql(Dialect::Postgres));
    tx.Commit();
}

template void InsertBatch(Backend<SqliteDb>&, std::vector<Report>&);
template void InsertBatch(Backend<PgDb>&, std::vector<Report>&);
template void DropBefore(Backend<SqliteDb>&, std::int64_t);
template void DropBefore(Backend<PgDb>&, std::int64_t);

}  // namespace collector
