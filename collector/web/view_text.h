// How the pages and exports write times, exit codes, shares and the names of
// findings and dimensions; and how query parameters are read back.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace collector {

constexpr std::int64_t kSecondsPerDay = 86400;

std::string DateTimeText(std::int64_t seconds);  // "09.12.2026 02:50" (UTC)
std::string DateText(std::int64_t seconds);      // "09.12.2026"
std::string IsoDateText(std::int64_t seconds);   // "2026-12-09", the value of a date field
std::string IsoTimeText(std::int64_t seconds);   // "2026-12-09T02:50:00Z", for JSON and CSV
std::string HexExitCode(std::uint32_t code);     // "0xC0000142"
std::string ExitCodeText(std::uint32_t code);    // "0xC0000142 (3221225794)"
std::string PercentText(double share);           // 0.953 → "95,3 %"
std::string PointsText(double shareDifference);  // 0.833 → "+83,3 п." (percentage points)

// A time asked for in a query, recognised by its shape: a date
// ("2026-12-09" or "09.12.2026", 00:00 UTC of that day) or seconds since 1970
// (digits only, whatever their number: "1765238400" is a moment, not a day).
struct QueryTime {
    std::int64_t seconds = 0;
    bool isDate = false;
};
// The latest moment a query may name: the end of the year 9999.
constexpr std::int64_t kLatestQuerySecond = 253402300799;
// nullopt for any other shape, an impossible date, or seconds beyond kLatestQuerySecond.
std::optional<QueryTime> ParseTime(std::string_view text);
// "0xC0000142" or "3221225794".
std::optional<std::uint32_t> ParseExitCode(std::string_view text);

// Russian names of a "what differs" dimension ("module", "image", "os").
std::string DimensionText(std::string_view dimension);

}  // namespace collector
