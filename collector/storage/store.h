// The collector's store: reports, the dictionary of file facts they refer to,
// the aggregates that outlive retention, and a few settings. One class over
// two back-ends chosen by the URI: SQLite in one file (the default) or
// PostgreSQL shared by several collector processes. The only place with SQL.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "collector/core/report.h"
#include "collector/core/views.h"

namespace collector {

struct StoreOptions {
    int retentionDays = 90;  // raw reports older than this are dropped; aggregates stay
    int readConnections = 4; // queries from several threads share this many connections
    // Attributes (module name and version, image, OS version) new to the store
    // that one program version may add a day; the ones beyond are counted
    // under their dimension's overflow attribute (kOverflowAttribute).
    int newAttributesPerProgramDay = 5000;
    std::size_t writerCacheBytes = 64u << 20;  // what the writer remembers of the dictionaries
    // SQLite: every commit reaches the disk before the report is answered;
    // false (synchronous=NORMAL) is faster but may lose the last commits at a
    // power failure (never at a crash of the process).
    bool sqliteFullSync = true;
};

// The value of the attribute that counts, per dimension, what passed the cap
// on new attributes.
inline constexpr char kOverflowAttribute[] = "(прочие: сверх предела новых значений за день)";

class Store {
public:
    // "PATH" or "sqlite:PATH": SQLite; "postgresql://..." or "postgres://...":
    // PostgreSQL. Creates the schema when it is missing. Throws on failure.
    explicit Store(const std::string& uri, StoreOptions options = {});
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Stores the batch in one transaction and sets each report's id. On
    // failure it throws and nothing of the batch is stored (ids stay 0).
    // Called by one writer thread per process; several processes may insert
    // into one PostgreSQL database at once.
    void Insert(std::vector<Report>& batch);

    // Queries: safe from any thread while the writer inserts. Periods count
    // whole UTC days for the aggregates (the day holding `since` up to the day
    // holding `until - 1`) and exact seconds for report lists.
    std::vector<GroupSummary> Groups(const Period& period);
    std::optional<GroupDetail> Group(std::int64_t id, const Period& period);
    std::vector<ReportSummary> Reports(const ReportFilter& filter);
    std::optional<Report> ReportById(std::int64_t id);
    // Modules whose presence goes with failure for several programs, most
    // programs first.
    std::vector<DiffRow> FailureModulesAcrossPrograms(const Period& period);

    // The first and last day of the daily sums; nullopt for an empty store.
    std::optional<DataDays> DataRange();
    // Adds reports refused at ingest to their day's counts (an aggregate:
    // retention keeps it). Called by the writer thread.
    void CountRefusals(const std::vector<RefusalCount>& counts);
    // The refusals of the period's days, summed per reason, by reason.
    std::vector<RefusalCount> Refusals(const Period& period);

    // Drops raw reports received before now - retentionDays (PostgreSQL: whole
    // day partitions) and the files no kept report refers to any more.
    // Aggregates and the dictionary rows they name are kept.
    void DropExpired(std::int64_t now);

    std::optional<std::string> Setting(const std::string& key);
    void SetSetting(const std::string& key, const std::string& value);
    // Writes the value unless the key has one; returns the value that stands
    // (the first writer's, also across processes).
    std::string SetSettingOnce(const std::string& key, const std::string& value);

    // Ended sessions, by the digest of their token, kept until they expire.
    void RevokeSession(const std::string& digest, std::int64_t expiry, std::int64_t now);
    bool SessionRevoked(const std::string& digest);

    struct Engine;

private:
    std::unique_ptr<Engine> engine_;
};

}  // namespace collector
