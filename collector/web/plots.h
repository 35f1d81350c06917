// The plots of the pages, drawn here as inline SVG: a group's trend sparkline
// and its reports per day. Days without reports are drawn as zero.
#pragma once
#include <string>
#include <vector>

#include "collector/core/views.h"

namespace collector {

// Every day from the first to the last (both 00:00 UTC), with the counts of
// perDay and zeros between them; at most kMaxPlotDays, the newest kept.
std::vector<DayCount> ContinuousDays(const std::vector<DayCount>& perDay, std::int64_t firstDay, std::int64_t lastDay);
constexpr std::size_t kMaxPlotDays = 366;

std::string SparklineSvg(const std::vector<DayCount>& days);
std::string DailyBarsSvg(const std::vector<DayCount>& days);

}  // namespace collector
