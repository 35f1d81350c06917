// Reading a support staff's request: its path and query, form bodies,
// cookies, and the period and report filter a query asks for. Invalid input
// throws BadRequest, answered 400 with its reason.
#pragma once
#include <boost/beast/http.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "collector/core/views.h"

namespace collector {

using WebRequest = boost::beast::http::request<boost::beast::http::string_body>;

struct BadRequest {
    std::string reason;
};

using FormFields = std::map<std::string, std::string, std::less<>>;

// A request's target split into its path and decoded query parameters.
struct Target {
    std::string path;
    FormFields query;

    std::string Get(std::string_view name) const;
};

Target TargetOf(const WebRequest& request);
FormFields ParseForm(std::string_view text);
std::string CookieValue(const WebRequest& request, std::string_view name);
// Only a path of this site: no scheme, no "//host", nothing that ends a header.
std::string LocalPath(std::string_view next);
// Decimal digits only, at most 18 of them.
std::optional<std::int64_t> IdFrom(std::string_view text);

// since and until of the query: dates (until inclusive) or seconds, see
// ParseTime. Without either, the last `defaultDays` days, today included,
// when defaultDays > 0. The period is then clamped to the data's days and
// today, so that no answer reaches beyond what is stored.
Period PeriodFrom(const Target& target, std::int64_t defaultDays, std::int64_t now,
                  const std::optional<DataDays>& data);
// The same for report lists: no default, no clamping (they page).
Period ExactPeriodFrom(const Target& target);

ReportFilter FilterFrom(const Target& target, std::size_t defaultLimit, std::size_t maxLimit);

}  // namespace collector
