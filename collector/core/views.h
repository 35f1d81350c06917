// What the collector's queries give the web page and the API: groups with
// their statistics, "what differs" rows, report summaries. Plain data.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "collector/core/report.h"

namespace collector {

// Seconds since 1970 (UTC); 0 leaves that end open.
struct Period {
    std::int64_t since = 0;
    std::int64_t until = 0;
};

// The first and last day (00:00 UTC) that hold data.
struct DataDays {
    std::int64_t first = 0;
    std::int64_t last = 0;
};

struct DayCount {
    std::int64_t day = 0;  // 00:00 UTC of the day
    std::int64_t count = 0;
};

struct GroupSummary {
    std::int64_t id = 0;
    GroupKey key;
    std::int64_t count = 0;        // failing runs of the group in the period
    std::int64_t versionRuns = 0;  // every run of that program and version in the period
    double failureRate = 0;        // count / versionRuns
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;
    std::vector<DayCount> perDay;  // the trend, oldest first
    bool isNew = false;            // not seen before the period began
    std::vector<std::pair<std::string, std::int64_t>> osVersions;  // most frequent first
};

// One attribute whose share differs between failing and successful runs.
struct DiffRow {
    std::string dimension;  // "module", "image" or "os"
    std::string value;      // module: name and version; image: name; os: version text
    std::int64_t groupCount = 0;
    std::int64_t groupTotal = 0;
    std::int64_t controlCount = 0;
    std::int64_t controlTotal = 0;
    double groupShare = 0;
    double controlShare = 0;
    double pValue = 1;          // after the correction for the number of attributes tried
    std::int64_t programs = 0;  // across all groups: how many programs it goes with failure for
};

struct ReportSummary {
    std::int64_t id = 0;
    std::int64_t receivedAt = 0;
    std::string program;
    std::string programVersion;
    std::string os;
    std::uint32_t exitCode = 0;
    std::string findingKind;
    std::string findingModule;
    std::int64_t groupId = 0;  // 0: a success
};

struct ReportFilter {
    std::string program;   // file name, case-insensitive
    std::string module;    // a module name loaded in the run
    std::string company;   // a module's company
    std::string image;     // a running image's file name, case-insensitive
    std::optional<std::uint32_t> exitCode;
    Period period;
    std::int64_t groupId = 0;  // 0: any
    std::size_t limit = 200;
    std::size_t offset = 0;
};

// Reports the collector refused at ingest, per reason ("malformed",
// "over_limits", "too_frequent", "queue_full", "stopping", "store_failed").
struct RefusalCount {
    std::int64_t day = 0;  // 00:00 UTC of the day; 0 in sums over a period
    std::string reason;
    std::int64_t count = 0;
};

struct GroupDetail {
    GroupSummary summary;
    std::vector<DiffRow> differs;      // strongest first
    bool controlIsAllPrograms = false; // too few successes of this program: all successes stand in
    std::vector<ReportSummary> reports;
    std::int64_t controlRuns = 0;      // the successful runs compared with (0: nothing to compare with)
};

}  // namespace collector
