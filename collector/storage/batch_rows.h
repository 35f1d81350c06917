// The pure step of storing a batch: from reports to the dictionary rows they
// need, and, once those rows have ids, to the raw rows and the daily sums.
// No database here, so that what a batch adds up to is tested on its own.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "collector/core/report.h"
#include "collector/storage/sql.h"

namespace collector {

inline constexpr std::int64_t kDay = 86400;
inline std::int64_t DayOf(std::int64_t t) { return t >= 0 ? t / kDay * kDay : (t - kDay + 1) / kDay * kDay; }

// Keys of dictionary rows: the exact texts of a report, length-prefixed.
std::string FileKey(const FileEntry& f);
std::string ProgramKey(const Report& r);
std::string GroupKeyText(const GroupKey& k);
std::string ModuleKey(const FileEntry& f);
std::string ImageKey(const FileEntry& f);
std::string OsKey(const Report& r);
// The key of the attribute that counts a dimension's values past the cap.
std::string OverflowKey(const std::string& dimension);

// The values of a new dictionary row as inserted, digest first (texts
// cleaned, so texts that differ only in what cleaning replaced share one digest).
SqlParams ProgramValues(const Report& r);
SqlParams GroupValues(const Report& r, std::int64_t programId);
SqlParams FileValues(const FileEntry& f, std::int64_t day);
SqlParams AttributeValues(const std::string& dimension, const std::string& value);

// The keys of one report's dictionary rows, worked out once.
struct ReportKeys {
    std::string program, group, process, os;  // group empty: the run started
    std::vector<std::string> images, modules;  // file keys
    std::vector<std::string> imageAttributes, moduleAttributes;
};
ReportKeys KeysOf(const Report& r);

struct ReportRow {
    std::int64_t id = 0, receivedAt = 0, programId = 0, groupId = 0, exitCode = 0;
    std::int64_t failExitCode = -1;  // -1: the client sent none
    std::string os;
    std::int64_t processFile = 0;
    std::string imageFiles, moduleFiles;  // file ids in the report's order, blank-separated
};

struct FindingRow {
    std::int64_t reportId = 0, receivedAt = 0, position = 0;
    std::string kind, module, detail;
};

// Sums keyed by ids.
template <std::size_t N> struct IdsHash {
    std::size_t operator()(const std::array<std::int64_t, N>& k) const {
        std::size_t h = 0;
        for (std::int64_t v : k) h = h * 1000003 ^ std::hash<std::int64_t>()(v);
        return h;
    }
};
template <std::size_t N, class V> using Sums = std::unordered_map<std::array<std::int64_t, N>, V, IdsHash<N>>;

struct Aggregates {
    Sums<2, std::array<std::int64_t, 3>> groupDays;    // (group, day): runs, first seen, last seen
    Sums<2, std::array<std::int64_t, 2>> versionDays;  // (program, day): runs, successes
    Sums<3, std::int64_t> groupOs, groupAttributes;    // (group, day, attribute): runs
    Sums<3, std::array<std::int64_t, 2>> programAttributes;  // (program, day, attribute): failures, successes
};

struct BatchRows {
    std::vector<ReportRow> reports;
    std::vector<FindingRow> findings;
    Aggregates sums;
};

enum class Dictionary { Programs, Groups, Files, Attributes };
// The id of a key's row (attribute keys past the cap give their overflow attribute's).
using IdOf = std::function<std::int64_t(Dictionary, const std::string& key)>;

// The rows and sums of a batch whose dictionary rows have ids; reportIds in
// the batch's order. A report counts once for each attribute it has, however
// often it has it.
BatchRows RowsOf(const std::vector<Report>& batch, const std::vector<ReportKeys>& keys,
                 const std::vector<std::int64_t>& reportIds, const IdOf& idOf);

}  // namespace collector
