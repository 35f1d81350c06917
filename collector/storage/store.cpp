// Store: chooses the back-end by URI and hands each call to it, writes under
// the writer's lock, queries on a pooled reader connection.
#include "collector/storage/store.h"

#include <limits>
#include <stdexcept>

#include "collector/storage/engine.h"

namespace collector {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

template <class Db, class F> auto Read(Backend<Db>& backend, F&& query) {
    auto lease = backend.readers.Take();
    Transaction tx(*lease, false);
    auto result = query(*lease);
    tx.Commit();
    return result;
}

}  // namespace

Store::Store(const std::string& uri, StoreOptions options) : engine_(std::make_unique<Engine>()) {
    engine_->options = options;
    if (StartsWith(uri, "postgresql://") || StartsWith(uri, "postgres://")) {
        engine_->pg = std::make_unique<Backend<PgDb>>(uri, options);
        CreateSchema(*engine_->pg->writer);
    } else {
        std::string path = StartsWith(uri, "sqlite:") ? uri.substr(7) : uri;
        if (path.empty()) throw std::invalid_argument("store: no database file given");
        engine_->sqlite = std::make_unique<Backend<SqliteDb>>(path, options);
        CreateSchema(*engine_->sqlite->writer);
    }
}

Store::~Store() = default;

void Store::Insert(std::vector<Report>& batch) {
    engine_->Visit([&](auto& backend) { InsertBatch(backend, batch); });
}

std::vector<GroupSummary> Store::Groups(const Period& period) {
    return engine_->Visit([&](auto& b) { return Read(b, [&](auto& db) { return QueryGroups(db, period, 0); }); });
}

std::optional<GroupDetail> Store::Group(std::int64_t id, const Period& period) {
    return engine_->Visit([&](auto& b) { return Read(b, [&](auto& db) { return QueryGroup(db, id, period); }); });
}

std::vector<ReportSummary> Store::Reports(const ReportFilter& filter) {
    return engine_->Visit([&](auto& b) { return Read(b, [&](auto& db) { return QueryReports(db, filter); }); });
}

std::optional<Report> Store::ReportById(std::int64_t id) {
    return engine_->Visit([&](auto& b) { return Read(b, [&](auto& db) { return QueryReport(db, id); }); });
}

std::vector<DiffRow> Store::FailureModulesAcrossPrograms(const Period& period) {
    return engine_->Visit([&](auto& b) { return Read(b, [&](auto& db) { return QueryFailureModules(db, period); }); });
}

std::optional<DataDays> Store::DataRange() {
    return engine_->Visit([&](auto& b) {
        return Read(b, [&](auto& db) -> std::optional<collector::DataDays> {
            SqlRows rows = db.Query("SELECT MIN(day), MAX(day) FROM version_days");
            if (rows.empty() || rows[0].Text(0).empty()) return std::nullopt;
            return collector::DataDays{rows[0].Int(0), rows[0].Int(1)};
        });
    });
}

void Store::CountRefusals(const std::vector<RefusalCount>& counts) {
    engine_->Visit([&](auto& backend) {
        std::lock_guard lock(backend.writeMutex);
        auto& db = backend.Writer();
        Transaction tx(db, true);
        for (const RefusalCount& count : counts)
            db.Query("INSERT INTO refused_days (day, reason, reports) VALUES (?, ?, ?) ON CONFLICT (day, reason) "
                     "DO UPDATE SET reports = refused_days.reports + excluded.reports",
                     {count.day, count.reason, count.count});
        tx.Commit();
    });
}

std::vector<RefusalCount> Store::Refusals(const Period& period) {
    const std::int64_t first = period.since ? DayOf(period.since) : std::numeric_limits<std::int64_t>::min();
    const std::int64_t last = period.until ? DayOf(period.until - 1) : std::numeric_limits<std::int64_t>::max();
    return engine_->Visit([&](auto& b) {
        return Read(b, [&](auto& db) {
            std::vector<RefusalCount> counts;
            for (const SqlRow& row : db.Query("SELECT reason, SUM(reports) FROM refused_days WHERE day >= ? AND "
                                              "day <= ? GROUP BY reason ORDER BY reason",
                                              {first, last}))
                counts.push_back({0, row.Text(0), row.Int(1)});
            return counts;
        });
    });
}

void Store::DropExpired(std::int64_t now) {
    std::int64_t cutoff = now - std::int64_t{engine_->options.retentionDays} * kDay;
    engine_->Visit([&](auto& backend) { DropBefore(backend, cutoff); });
}

std::optional<std::string> Store::Setting(const std::string& key) {
    return engine_->Visit([&](auto& b) {
        return Read(b, [&](auto& db) -> std::optional<std::string> {
            SqlRows rows = db.Query("SELECT value FROM settings WHERE key = ?", {key});
            if (rows.empty()) return std::nullopt;
            return rows[0].Text(0);
        });
    });
}

void Store::SetSetting(const std::string& key, const std::string& value) {
    engine_->Visit([&](auto& backend) {
        std::lock_guard lock(backend.writeMutex);
        backend.Writer().Query(
            "INSERT INTO settings (key, value) VALUES (?, ?) ON CONFLICT (key) DO UPDATE SET value = excluded.value",
            {key, value});
    });
}

std::string Store::SetSettingOnce(const std::string& key, const std::string& value) {
    return engine_->Visit([&](auto& backend) {
        std::lock_guard lock(backend.writeMutex);
        auto& db = backend.Writer();
        db.Query("INSERT INTO settings (key, value) VALUES (?, ?) ON CONFLICT (key) DO NOTHING", {key, value});
        return db.Query("SELECT value FROM settings WHERE key = ?", {key}).at(0).Text(0);
    });
}

void Store::RevokeSession(const std::string& digest, std::int64_t expiry, std::int64_t now) {
    engine_->Visit([&](auto& backend) {
        std::lock_guard lock(backend.writeMutex);
        auto& db = backend.Writer();
        db.Query("DELETE FROM revoked_sessions WHERE expires <= ?", {now});
        db.Query("INSERT INTO revoked_sessions (digest, expires) VALUES (?, ?) ON CONFLICT (digest) DO NOTHING",
                 {digest, expiry});
    });
}

bool Store::SessionRevoked(const std::string& digest) {
    return engine_->Visit([&](auto& b) {
        return Read(b, [&](auto& db) {
            return !db.Query("SELECT 1 FROM revoked_sessions WHERE digest = ?", {digest}).empty();
        });
    });
}

}  // namespace collector
