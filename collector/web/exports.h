// The JSON API's documents and the CSV export of a report list, as plain
// functions of the view records. Times are ISO 8601 in UTC.
#pragma once
#include <string>
#include <vector>

#include "collector/core/report.h"
#include "collector/core/views.h"

namespace collector {

std::string GroupsJson(const std::vector<GroupSummary>& groups);
std::string GroupJson(const GroupDetail& group);
std::string ReportsJson(const std::vector<ReportSummary>& reports);
std::string ReportJson(const Report& report);
std::string FailureModulesJson(const std::vector<DiffRow>& rows);
std::string ErrorJson(const std::string& message);

// UTF-8 with a byte order mark (spreadsheets need it to read Cyrillic),
// comma-separated, CRLF line ends, one header row.
std::string ReportsCsv(const std::vector<ReportSummary>& reports);

}  // namespace collector
