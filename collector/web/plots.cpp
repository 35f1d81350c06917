// SVG sparklines and bar plots; numbers and dates only, no report text.
#include "collector/web/plots.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "collector/web/view_text.h"

namespace collector {

namespace {

std::string Number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    return buffer;
}

std::int64_t MaxCount(const std::vector<DayCount>& days) {
    std::int64_t max = 0;
    for (const DayCount& day : days) max = std::max(max, day.count);
    return max;
}

}  // namespace

std::vector<DayCount> ContinuousDays(const std::vector<DayCount>& perDay, std::int64_t firstDay, std::int64_t lastDay) {
    std::map<std::int64_t, std::int64_t> counts;
    for (const DayCount& day : perDay) counts[day.day - day.day % kSecondsPerDay] += day.count;
    firstDay -= firstDay % kSecondsPerDay;
    lastDay -= lastDay % kSecondsPerDay;
    if (lastDay < firstDay) return {};
    firstDay = std::max(firstDay, lastDay - std::int64_t(kMaxPlotDays - 1) * kSecondsPerDay);
    std::vector<DayCount> days;
    for (std::int64_t day = firstDay; day <= lastDay; day += kSecondsPerDay) {
        const auto found = counts.find(day);
        days.push_back({day, found == counts.end() ? 0 : found->second});
    }
    return days;
}

std::string SparklineSvg(const std::vector<DayCount>& days) {
    constexpr double kWidth = 120, kHeight = 24;
    std::string svg = "<svg class=\"spark\" width=\"120\" height=\"24\" viewBox=\"0 0 120 24\" role=\"img\">";
    const std::int64_t max = MaxCount(days);
    if (!days.empty()) {
        svg += "<title>по дням с " + DateText(days.front().day) + " по " + DateText(days.back().day) + ", наибольшее " +
               std::to_string(max) + "</title>";
    }
    std::string points;
    for (std::size_t i = 0; i < days.size(); ++i) {
        const double x = days.size() == 1 ? kWidth / 2 : i * (kWidth - 2) / (days.size() - 1) + 1;
        const double y = kHeight - 2 - (max == 0 ? 0 : double(days[i].count) / max * (kHeight - 4));
        points += Number(x) + "," + Number(y) + " ";
    }
    if (!points.empty()) {
        svg += "<polyline fill=\"none\" stroke=\"#b03030\" stroke-width=\"1.5\" points=\"" + points + "\"/>";
    }
    return svg + "</svg>";
}

std::string DailyBarsSvg(const std::vector<DayCount>& days) {
    constexpr double kLeft = 40, kTop = 10, kPlotHeight = 160, kBottom = 40;
    const double barWidth = days.size() > 60 ? 4 : days.size() > 20 ? 10 : 24;
    const double width = kLeft + std::max<double>(1, days.size()) * barWidth + 10;
    const double height = kTop + kPlotHeight + kBottom;
    const std::int64_t max = std::max<std::int64_t>(1, MaxCount(days));
    std::string svg = "<svg class=\"bars\" width=\"" + Number(width) + "\" height=\"" + Number(height) +
                      "\" viewBox=\"0 0 " + Number(width) + " " + Number(height) + "\" role=\"img\">" +
                      "<title>Отчётов за день</title>";
    const double baseline = kTop + kPlotHeight;
    svg += "<line x1=\"" + Number(kLeft) + "\" y1=\"" + Number(baseline) + "\" x2=\"" + Number(width - 5) + "\" y2=\"" +
           Number(baseline) + "\" stroke=\"#444\"/>";
    svg += "<text x=\"" + Number(kLeft - 4) + "\" y=\"" + Number(kTop + 10) +
           "\" text-anchor=\"end\" font-size=\"11\">" + std::to_string(max) + "</text>";
    svg += "<text x=\"" + Number(kLeft - 4) + "\" y=\"" + Number(baseline) +
           "\" text-anchor=\"end\" font-size=\"11\">0</text>";
    const std::size_t labelEvery = std::max<std::size_t>(1, days.size() / 8);
    for (std::size_t i = 0; i < days.size(); ++i) {
        const double x = kLeft + i * barWidth;
        const double barHeight = double(days[i].count) / max * kPlotHeight;
        svg += "<rect x=\"" + Number(x + 1) + "\" y=\"" + Number(baseline - barHeight) + "\" width=\"" +
               Number(barWidth - 2) + "\" height=\"" + Number(barHeight) + "\" fill=\"#b03030\"><title>" +
               DateText(days[i].day) + ": " + std::to_string(days[i].count) + "</title></rect>";
        if (i % labelEvery == 0) {
            svg += "<text x=\"" + Number(x) + "\" y=\"" + Number(baseline + 14) + "\" font-size=\"10\">" +
                   DateText(days[i].day).substr(0, 5) + "</text>";
        }
    }
    return svg + "</svg>";
}

}  // namespace collector
