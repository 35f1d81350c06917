// Storing a batch of reports in one transaction: the dictionaries first (new
// rows in digest order, so that concurrent writers on one PostgreSQL database
// always take their locks in the same order and never deadlock), then the
// raw rows and the daily sums that the pure step (batch_rows.h) makes of the
// batch, written by the dialects (dialects.h).
#include <algorithm>
#include <map>

#include "collector/storage/dialects.h"
#include "collector/storage/engine.h"

namespace collector {

namespace {

using IdMap = std::unordered_map<std::string, std::int64_t>;

// One batch's dictionary work: the ids of every key its reports need.
template <class Db> class BatchWriter {
public:
    BatchWriter(Db& db, DictionaryCache& cache, const StoreOptions& options)
        : db_(db), cache_(cache), options_(options) {}

    void Write(std::vector<Report>& batch) {
        keys_.reserve(batch.size());
        for (const Report& r : batch) {
            keys_.push_back(KeysOf(r));
            lastDay_ = std::max(lastDay_, DayOf(r.receivedAt));
        }
        ResolvePrograms(batch);
        ResolveGroups(batch);
        ResolveFiles(batch);
        ResolveAttributes(batch);
        ids_ = ReserveReportIds(db_, static_cast<std::int64_t>(batch.size()));
        const BatchRows rows =
            RowsOf(batch, keys_, ids_, [this](Dictionary d, const std::string& key) { return Id(d, key); });
        WriteRawRows(db_, rows);
        WriteAggregates(db_, rows.sums);
    }

    // After the commit: the new dictionary rows are known for good.
    void Keep(std::vector<Report>& batch) {
        const auto merge = [this](auto& into, const IdMap& from, auto value) {
            for (const auto& [key, id] : from) {
                if (into.insert_or_assign(key, value(id)).second) cache_.bytes += DictionaryCache::EntryBytes(key);
            }
        };
        const auto same = [](std::int64_t id) { return id; };
        merge(cache_.programs, fresh_.programs, same);
        merge(cache_.groups, fresh_.groups, same);
        merge(cache_.attributes, fresh_.attributes, same);
        merge(cache_.files, fresh_.files, [this](std::int64_t id) { return DictionaryCache::File{id, lastDay_}; });
        if (cache_.bytes > options_.writerCacheBytes) cache_.Clear();
        for (std::size_t i = 0; i < batch.size(); ++i) batch[i].id = ids_[i];
    }

private:
    std::int64_t Id(Dictionary dictionary, const std::string& key) const {
        switch (dictionary) {
        case Dictionary::Programs: return Find(cache_.programs, fresh_.programs, key);
        case Dictionary::Groups: return Find(cache_.groups, fresh_.groups, key);
        case Dictionary::Attributes:
            if (const auto o = overflowed_.find(key); o != overflowed_.end()) return o->second;
            return Find(cache_.attributes, fresh_.attributes, key);
        case Dictionary::Files:
            if (const auto f = fresh_.files.find(key); f != fresh_.files.end()) return f->second;
            return cache_.files.at(key).id;
        }
        return 0;
    }

    static std::int64_t Find(const IdMap& cached, const IdMap& fresh, const std::string& key) {
        if (const auto c = cached.find(key); c != cached.end()) return c->second;
        return fresh.at(key);
    }

    void ResolvePrograms(const std::vector<Report>& batch) {
        NewRows programs;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (!cache_.programs.count(keys_[i].program)) programs.Add(keys_[i].program, ProgramValues(batch[i]));
        }
        InsertNew(db_, "programs", "name, version, name_key", programs, fresh_.programs);
    }

    void ResolveGroups(const std::vector<Report>& batch) {
        NewRows groups;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const std::string& key = keys_[i].group;
            if (key.empty() || cache_.groups.count(key) || groups.Has(key)) continue;
            groups.Add(key, GroupValues(batch[i], Id(Dictionary::Programs, keys_[i].program)));
        }
        InsertNew(db_, "failure_groups",
                  "program_id, program, program_version, exit_code, finding_kind, finding_module", groups,
                  fresh_.groups);
    }

    // A file known from an earlier day is written again, so that its last day
    // of use (what retention goes by) covers this batch.
    void ResolveFiles(const std::vector<Report>& batch) {
        NewRows files;
        const auto add = [&](const std::string& key, const FileEntry& entry) {
            const auto cached = cache_.files.find(key);
            if (cached != cache_.files.end() && cached->second.lastDay >= lastDay_) return;
            if (!files.Has(key)) files.Add(key, FileValues(entry, lastDay_));
        };
        for (std::size_t i = 0; i < batch.size(); ++i) {
            add(keys_[i].process, batch[i].process);
            for (std::size_t k = 0; k < batch[i].files.size(); ++k) add(keys_[i].images[k], batch[i].files[k]);
            for (std::size_t k = 0; k < batch[i].modules.size(); ++k) add(keys_[i].modules[k], batch[i].modules[k]);
        }
        InsertNew(db_, "files",
                  "name, folder, size, version, created, modified, description, company, name_key, company_key, "
                  "last_day",
                  files, fresh_.files, "last_day");
    }

    // Attributes new to the store are granted from the budget of the program
    // and day of the first report that has them; the ones past it are counted
    // under their dimension's overflow attribute.
    void ResolveAttributes(const std::vector<Report>& batch) {
        NewRows wanted;
        std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::string>> owners;  // (program, day) -> keys
        std::unordered_map<std::string, std::string> dimensionOf;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const Report& r = batch[i];
            const ReportKeys& k = keys_[i];
            const std::pair<std::int64_t, std::int64_t> owner{Id(Dictionary::Programs, k.program), DayOf(r.receivedAt)};
            const auto add = [&](const std::string& key, const char* dimension, const std::string& value) {
                if (cache_.attributes.count(key) || wanted.Has(key)) return;
                wanted.Add(key, AttributeValues(dimension, value));
                owners[owner].push_back(key);
                dimensionOf[key] = dimension;
            };
            add(k.os, "os", r.os);
            for (std::size_t f = 0; f < r.files.size(); ++f) add(k.imageAttributes[f], "image", r.files[f].name);
            for (std::size_t f = 0; f < r.modules.size(); ++f) {
                add(k.moduleAttributes[f], "module", r.modules[f].name + " " + r.modules[f].productVersion);
            }
        }
        if (wanted.byDigest.empty()) return;
        fresh_.attributes = ExistingRows(db_, "attributes", wanted);
        NewRows granted, overflow;
        for (const auto& [owner, keys] : owners) {
            std::vector<const std::string*> missing;
            for (const std::string& key : keys) {
                if (!fresh_.attributes.count(key)) missing.push_back(&key);
            }
            if (missing.empty()) continue;
            const std::int64_t allowed = TakeAttributeBudget(db_, owner.first, owner.second,
                                                             static_cast<std::int64_t>(missing.size()),
                                                             options_.newAttributesPerProgramDay);
            for (std::size_t m = 0; m < missing.size(); ++m) {
                const std::string& key = *missing[m];
                if (static_cast<std::int64_t>(m) < allowed) {
                    granted.Add(key, wanted.byDigest.at(wanted.digestOfKey.at(key)).values);
                } else {
                    const std::string& dimension = dimensionOf.at(key);
                    overflow.Add(OverflowKey(dimension), AttributeValues(dimension, kOverflowAttribute));
                    overflowedDimension_[key] = dimension;
                }
            }
        }
        InsertNew(db_, "attributes", "dimension, value", granted, fresh_.attributes);
        IdMap overflowIds;
        InsertNew(db_, "attributes", "dimension, value", overflow, overflowIds);
        for (const auto& [key, dimension] : overflowedDimension_) overflowed_[key] = overflowIds.at(OverflowKey(dimension));
    }

    struct Fresh {
        IdMap programs, groups, files, attributes;
    };

    Db& db_;
    DictionaryCache& cache_;
    const StoreOptions& options_;
    std::vector<ReportKeys> keys_;
    std::int64_t lastDay_ = 0;  // the batch's latest day
    Fresh fresh_;
    IdMap overflowed_;  // attribute keys past the cap -> their overflow attribute; never cached
    std::unordered_map<std::string, std::string> overflowedDimension_;
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
    BatchWriter<Db> writer(db, backend.cache, backend.options);
    Transaction tx(db, true);
    writer.Write(batch);
    tx.Commit();
    writer.Keep(batch);
}

template <class Db> void DropBefore(Backend<Db>& backend, std::int64_t cutoff) {
    std::lock_guard lock(backend.writeMutex);
    DropRawBefore(backend.Writer(), cutoff, backend.cache.partitionDays);
}

template void InsertBatch(Backend<SqliteDb>&, std::vector<Report>&);
template void InsertBatch(Backend<PgDb>&, std::vector<Report>&);
template void DropBefore(Backend<SqliteDb>&, std::int64_t);
template void DropBefore(Backend<PgDb>&, std::int64_t);

}  // namespace collector
