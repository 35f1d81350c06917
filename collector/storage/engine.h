// The inside of Store: one back-end (SQLite or PostgreSQL) with a writer
// connection and a pool of reader connections. Private to storage.
#pragma once
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "collector/storage/batch_rows.h"
#include "collector/storage/pg_db.h"
#include "collector/storage/schema.h"
#include "collector/storage/sqlite_db.h"
#include "collector/storage/store.h"

namespace collector {

inline bool IsBroken(const SqliteDb&) { return false; }
inline bool IsBroken(const PgDb& db) { return db.Broken(); }
inline void BeginRead(SqliteDb& db) { db.Exec("BEGIN"); }
inline void BeginRead(PgDb& db) { db.BeginRead(); }

// Rolls back unless committed.
template <class Db> class Transaction {
public:
    explicit Transaction(Db& db, bool write) : db_(db) {
        if (write) db_.Begin();
        else BeginRead(db_);
    }
    ~Transaction() {
        if (open_) {
            try {
                db_.Rollback();
            } catch (...) {
                // The connection is gone; so is the transaction.
            }
        }
    }
    // A COMMIT that fails may leave the transaction open (SQLite keeps it
    // after SQLITE_BUSY, say): it is rolled back then, so that the connection
    // can begin the next one.
    void Commit() {
        db_.Commit();
        open_ = false;
    }

private:
    Db& db_;
    bool open_ = true;
};

// Connections for the query threads: at most `size` at once, made on demand,
// a broken one dropped rather than returned.
template <class Db> class Pool {
public:
    Pool(std::string uri, int size) : uri_(std::move(uri)), free_slots_(size > 0 ? size : 1) {}

    class Lease {
    public:
        Lease(Pool& pool, std::unique_ptr<Db> db) : pool_(pool), db_(std::move(db)) {}
        ~Lease() { pool_.Return(std::move(db_)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Db& operator*() { return *db_; }

    private:
        Pool& pool_;
        std::unique_ptr<Db> db_;
    };

    Lease Take() {
        std::unique_lock lock(mutex_);
        available_.wait(lock, [&] { return !idle_.empty() || free_slots_ > 0; });
        if (!idle_.empty()) {
            auto db = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(db));
        }
        --free_slots_;
        lock.unlock();
        try {
            return Lease(*this, std::make_unique<Db>(uri_));
        } catch (...) {
            Return(nullptr);
            throw;
        }
    }

private:
    void Return(std::unique_ptr<Db> db) {
        std::lock_guard lock(mutex_);
        if (db && !IsBroken(*db)) idle_.push_back(std::move(db));
        else ++free_slots_;
        available_.notify_one();
    }

    std::string uri_;
    std::mutex mutex_;
    std::condition_variable available_;
    std::vector<std::unique_ptr<Db>> idle_;
    int free_slots_;
};

// What the writer remembers of the dictionaries, keyed by the exact texts.
// Filled only after a commit, so it never names a row that was rolled back;
// emptied when it passes its size in bytes, so that a flood of distinct files
// cannot grow the writer for ever.
struct DictionaryCache {
    struct File {
        std::int64_t id = 0;
        std::int64_t lastDay = 0;  // the row's last_day is at least this
    };
    std::unordered_map<std::string, std::int64_t> programs, groups, attributes;
    std::unordered_map<std::string, File> files;
    std::set<std::int64_t> partitionDays;
    std::size_t bytes = 0;
    void Clear() { *this = DictionaryCache(); }
    // What an entry of this key costs, roughly: the key, its id, the hash node.
    static std::size_t EntryBytes(const std::string& key) { return key.size() + 64; }
};

// The writer's durability; PostgreSQL's is the server's (fsync, synchronous_commit).
inline void SetDurability(SqliteDb& db, const StoreOptions& options) {
    if (!options.sqliteFullSync) db.Exec("PRAGMA synchronous=NORMAL");
}
inline void SetDurability(PgDb&, const StoreOptions&) {}

template <class Db> struct Backend {
    Backend(const std::string& uri, const StoreOptions& options)
        : uri(uri), options(options), readers(uri, options.readConnections), writer(std::make_unique<Db>(uri)) {
        SetDurability(*writer, options);
    }
    std::string uri;
    StoreOptions options;
    Pool<Db> readers;
    std::mutex writeMutex;
    std::unique_ptr<Db> writer;  // remade when broken
    DictionaryCache cache;

    Db& Writer() {
        if (IsBroken(*writer)) {
            writer = std::make_unique<Db>(uri);
            SetDurability(*writer, options);
            cache.Clear();
        }
        return *writer;
    }
};

struct Store::Engine {
    StoreOptions options;
    std::unique_ptr<Backend<SqliteDb>> sqlite;  // exactly one of the two is set
    std::unique_ptr<Backend<PgDb>> pg;

    template <class F> auto Visit(F&& f) { return sqlite ? f(*sqlite) : f(*pg); }
};

// Writes, in store_write.cpp.
template <class Db> void InsertBatch(Backend<Db>& backend, std::vector<Report>& batch);
template <class Db> void DropBefore(Backend<Db>& backend, std::int64_t cutoff);
void CreateSchema(SqliteDb& db);
void CreateSchema(PgDb& db);

// Queries, in store_read.cpp; each runs in one read transaction.
template <class Db> std::vector<GroupSummary> QueryGroups(Db& db, const Period& period, std::int64_t onlyGroup);
template <class Db> std::optional<GroupDetail> QueryGroup(Db& db, std::int64_t id, const Period& period);
template <class Db> std::vector<ReportSummary> QueryReports(Db& db, const ReportFilter& filter);
template <class Db> std::optional<Report> QueryReport(Db& db, std::int64_t id);
template <class Db> std::vector<DiffRow> QueryFailureModules(Db& db, const Period& period);


}  // namespace collector
