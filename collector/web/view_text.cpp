// Text forms of times, exit codes and shares, and their parsing from queries.
#include "collector/web/view_text.h"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace collector {

namespace {

struct CivilTime {
    int year, month, day, hour, minute, second;
};

CivilTime ToCivil(std::int64_t seconds) {
    using namespace std::chrono;
    const sys_seconds time{std::chrono::seconds(seconds)};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    return {int(date.year()),           int(unsigned(date.month())),  int(unsigned(date.day())),
            int(clock.hours().count()), int(clock.minutes().count()), int(clock.seconds().count())};
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, int base) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

}  // namespace

std::string DateTimeText(std::int64_t seconds) {
    const CivilTime t = ToCivil(seconds);
    return Format("%02d.%02d.%04d %02d:%02d", t.day, t.month, t.year, t.hour, t.minute);
}

std::string DateText(std::int64_t seconds) {
    const CivilTime t = ToCivil(seconds);
    return Format("%02d.%02d.%04d", t.day, t.month, t.year);
}

std::string IsoDateText(std::int64_t seconds) {
    const CivilTime t = ToCivil(seconds);
    return Format("%04d-%02d-%02d", t.year, t.month, t.day);
}

std::string IsoTimeText(std::int64_t seconds) {
    const CivilTime t = ToCivil(seconds);
    return Format("%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

std::string HexExitCode(std::uint32_t code) { return Format("0x%X", code); }

std::string ExitCodeText(std::uint32_t code) { return Format("0x%X (%u)", code, code); }

// Russian writes a decimal comma.
std::string WithDecimalComma(std::string text) {
    for (char& c : text) {
        if (c == '.') c = ',';
    }
    return text;
}

std::string PercentText(double share) { return WithDecimalComma(Format("%.1f %%", share * 100)); }

std::string PointsText(double shareDifference) {
    return WithDecimalComma(Format("%+.1f", shareDifference * 100)) + " п.";
}

namespace {

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::optional<std::int64_t> DaySeconds(std::string_view year, std::string_view month, std::string_view day) {
    if (!AllDigits(year) || !AllDigits(month) || !AllDigits(day)) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(*ParseNumber<int>(year, 10)),
                                           std::chrono::month(*ParseNumber<unsigned>(month, 10)),
                                           std::chrono::day(*ParseNumber<unsigned>(day, 10))};
    if (!date.ok()) return std::nullopt;
    return std::chrono::sys_days(date).time_since_epoch() / std::chrono::seconds(1);
}

}  // namespace

std::optional<QueryTime> ParseTime(std::string_view text) {
    std::optional<std::int64_t> day;
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        day = DaySeconds(text.substr(0, 4), text.substr(5, 2), text.substr(8, 2));
    } else if (text.size() == 10 && text[2] == '.' && text[5] == '.') {
        day = DaySeconds(text.substr(6, 4), text.substr(3, 2), text.substr(0, 2));
    } else if (AllDigits(text)) {
        // Up to 12 digits cannot overflow; the bound keeps every later day sum in range.
        if (text.size() > 12) return std::nullopt;
        const auto seconds = ParseNumber<std::int64_t>(text, 10);
        if (!seconds || *seconds > kLatestQuerySecond) return std::nullopt;
        return QueryTime{*seconds, false};
    } else {
        return std::nullopt;
    }
    if (!day) return std::nullopt;
    return QueryTime{*day, true};
}

std::optional<std::uint32_t> ParseExitCode(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X")) return ParseNumber<std::uint32_t>(text.substr(2), 16);
    return ParseNumber<std::uint32_t>(text, 10);
}

std::string DimensionText(std::string_view dimension) {
    if (dimension == "module") return "Модуль";
    if (dimension == "image") return "Запущенный процесс";
    if (dimension == "os") return "Версия Windows";
    return std::string(dimension);
}

}  // namespace collector
