// The HTML pages for support staff, as plain functions of the view records.
// Every text that comes from a report is escaped here; the pages carry no
// script and only the one style sheet /static/style.css.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "collector/core/report.h"
#include "collector/core/views.h"

namespace collector {

// What every page of a logged-in user carries: the token of the logout form.
struct PageFrame {
    std::string csrfToken;
};

// `refused`: the reports the collector refused in the period, per reason.
std::string GroupsPage(const std::vector<GroupSummary>& groups, const std::vector<RefusalCount>& refused,
                       const Period& period, const PageFrame& frame);
std::string GroupPage(const GroupDetail& group, const Period& period, const PageFrame& frame);
std::string ReportPage(const Report& report, const PageFrame& frame);
std::string ReportsPage(const ReportFilter& filter, const std::vector<ReportSummary>& reports, const PageFrame& frame);
std::string FailureModulesPage(const std::vector<DiffRow>& rows, const Period& period, const PageFrame& frame);
std::string LoginPage(const std::string& csrfToken, const std::string& next, const std::string& message);
// A page without the navigation (before login, or for errors).
std::string MessagePage(const std::string& title, const std::string& message);

// The query string (without "?") that repeats a filter, for links and the
// CSV export; offset is left out.
std::string FilterQuery(const ReportFilter& filter);

extern const char kStyleSheet[];

}  // namespace collector
