// Query, form and cookie reading; the period and filter of a query.
#include "collector/web/request.h"

#include <algorithm>

#include "collector/web/escape.h"
#include "collector/web/view_text.h"

namespace collector {

namespace http = boost::beast::http;

std::string Target::Get(std::string_view name) const {
    const auto found = query.find(name);
    return found == query.end() ? std::string() : found->second;
}

FormFields ParseForm(std::string_view text) {
    FormFields fields;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('&'), text.size());
        const std::string_view pair = text.substr(0, end);
        const std::size_t equals = pair.find('=');
        if (!pair.empty()) {
            fields[DecodeFormComponent(pair.substr(0, equals))] =
                equals == std::string_view::npos ? std::string() : DecodeFormComponent(pair.substr(equals + 1));
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return fields;
}

Target TargetOf(const WebRequest& request) {
    const std::string_view target(request.target().data(), request.target().size());
    const std::size_t question = target.find('?');
    Target parsed{DecodeFormComponent(target.substr(0, question)), {}};
    if (question != std::string_view::npos) parsed.query = ParseForm(target.substr(question + 1));
    return parsed;
}

std::string CookieValue(const WebRequest& request, std::string_view name) {
    const auto [first, last] = request.equal_range(http::field::cookie);
    for (auto field = first; field != last; ++field) {
        std::string_view cookies(field->value().data(), field->value().size());
        while (!cookies.empty()) {
            const std::size_t end = std::min(cookies.find(';'), cookies.size());
            std::string_view cookie = cookies.substr(0, end);
            while (cookie.starts_with(' ')) cookie.remove_prefix(1);
            if (cookie.starts_with(name) && cookie.size() > name.size() && cookie[name.size()] == '=') {
                return std::string(cookie.substr(name.size() + 1));
            }
            cookies.remove_prefix(std::min(end + 1, cookies.size()));
        }
    }
    return {};
}

std::string LocalPath(std::string_view next) {
    if (!next.starts_with('/') || next.starts_with("//") || next.starts_with("/\\")) return "/";
    for (const char c : next) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) return "/";
    }
    return std::string(next);
}

std::optional<std::int64_t> IdFrom(std::string_view text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::stoll(std::string(text));
}

Period ExactPeriodFrom(const Target& target) {
    Period period;
    if (const std::string since = target.Get("since"); !since.empty()) {
        const auto time = ParseTime(since);
        if (!time) throw BadRequest{"неверная дата «с»"};
        period.since = time->seconds;
    }
    if (const std::string until = target.Get("until"); !until.empty()) {
        const auto time = ParseTime(until);
        if (!time) throw BadRequest{"неверная дата «по»"};
        period.until = time->isDate ? time->seconds + kSecondsPerDay : time->seconds;  // a date counts whole
    }
    return period;
}

Period PeriodFrom(const Target& target, std::int64_t defaultDays, std::int64_t now,
                  const std::optional<DataDays>& data) {
    Period period = ExactPeriodFrom(target);
    const std::int64_t today = now / kSecondsPerDay * kSecondsPerDay;
    if (defaultDays > 0 && !period.since && !period.until) period.since = today - (defaultDays - 1) * kSecondsPerDay;
    const std::int64_t end = today + kSecondsPerDay;  // nothing is received later than today
    if (period.until) period.until = std::min(period.until, end);
    if (period.since) {
        period.since = std::min(period.since, end);
        if (data) period.since = std::max(period.since, std::min(data->first, today));
    }
    return period;
}

ReportFilter FilterFrom(const Target& target, std::size_t defaultLimit, std::size_t maxLimit) {
    ReportFilter filter;
    filter.program = target.Get("program");
    filter.module = target.Get("module");
    filter.company = target.Get("company");
    filter.image = target.Get("image");
    if (const std::string code = target.Get("exitcode"); !code.empty()) {
        filter.exitCode = ParseExitCode(code);
        if (!filter.exitCode) throw BadRequest{"неверный код выхода"};
    }
    filter.period = ExactPeriodFrom(target);
    if (const std::string group = target.Get("group"); !group.empty()) {
        const auto id = IdFrom(group);
        if (!id) throw BadRequest{"неверный номер группы"};
        filter.groupId = *id;
    }
    filter.limit = defaultLimit;
    if (const std::string limit = target.Get("limit"); !limit.empty()) {
        const auto value = IdFrom(limit);
        if (!value || *value == 0) throw BadRequest{"неверный limit"};
        filter.limit = std::min<std::size_t>(*value, maxLimit);
    }
    if (const std::string offset = target.Get("offset"); !offset.empty()) {
        const auto value = IdFrom(offset);
        if (!value) throw BadRequest{"неверный offset"};
        filter.offset = *value;
    }
    return filter;
}

}  // namespace collector
