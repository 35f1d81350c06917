// The HTML of every page: layout, tables of groups, reports, modules and
// "what differs" rows, the search and login forms.
#include "collector/web/pages.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "collector/web/escape.h"
#include "collector/web/finding_text.h"
#include "collector/web/module_folders.h"
#include "collector/web/plots.h"
#include "collector/web/view_text.h"

namespace collector {

namespace {

std::string E(std::string_view text) { return EscapeHtml(text); }

std::string Cell(std::string_view text) { return "<td>" + E(text) + "</td>"; }
std::string NoWrapCell(std::string_view text) { return "<td class=\"nowrap\">" + E(text) + "</td>"; }
std::string NumberCell(std::int64_t value) { return "<td class=\"num\">" + std::to_string(value) + "</td>"; }
std::string HeaderRow(std::initializer_list<std::string_view> names) {
    std::string row = "<tr>";
    for (const std::string_view name : names) row += "<th>" + std::string(name) + "</th>";
    return row + "</tr>";
}
std::string Link(const std::string& href, std::string_view text) {
    return "<a href=\"" + E(href) + "\">" + E(text) + "</a>";
}

std::string Document(const std::string& title, const std::string& nav, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width\">"
           "<title>" +
           E(title) +
           " — Korvane</title>"
           "<link rel=\"stylesheet\" href=\"/static/style.css\"></head><body>" +
           nav + "<main><h1>" + E(title) + "</h1>" + body + "</main></body></html>\n";
}

std::string Navigation(const PageFrame& frame) {
    return "<header><nav><a href=\"/\">Группы отказов</a><a href=\"/reports\">Отчёты</a>"
           "<a href=\"/modules\">Модули и отказы</a>"
           "<form method=\"post\" action=\"/logout\"><input type=\"hidden\" name=\"csrf\" value=\"" +
           E(frame.csrfToken) + "\"><button type=\"submit\">Выйти</button></form></nav></header>";
}

std::string Page(const std::string& title, const std::string& body, const PageFrame& frame) {
    return Document(title, Navigation(frame), body);
}

std::string PeriodQuery(const Period& period) {
    std::string query;
    if (period.since) query += "since=" + IsoDateText(period.since);
    if (period.until) query += std::string(query.empty() ? "" : "&") + "until=" + IsoDateText(period.until - 1);
    return query;
}

std::string WithQuery(std::string path, const std::string& query) { return query.empty() ? path : path + "?" + query; }

// A text field rather than the browser's date field, which writes dates in the
// browser's locale: the page writes them one way, dd.mm.yyyy, everywhere.
std::string DateInput(const char* name, const char* label, std::int64_t value) {
    return std::string("<label>") + label + " <input type=\"text\" name=\"" + name + "\" value=\"" +
           (value ? DateText(value) : "") +
           "\" placeholder=\"дд.мм.гггг\" pattern=\"[0-9]{2}\\.[0-9]{2}\\.[0-9]{4}\" size=\"10\" "
           "inputmode=\"numeric\"></label>";
}

// The period chooser: a GET form, it changes nothing.
std::string PeriodForm(const std::string& action, const Period& period) {
    return "<form class=\"filter\" method=\"get\" action=\"" + action + "\">" + DateInput("since", "С", period.since) +
           DateInput("until", "по", period.until ? period.until - 1 : 0) +
           "<button type=\"submit\">Показать</button></form>";
}

std::string PeriodText(const Period& period) {
    if (!period.since && !period.until) return "за всё время";
    std::string text;
    if (period.since) text += "с " + DateText(period.since);
    if (period.until) text += std::string(text.empty() ? "" : " ") + "по " + DateText(period.until - 1);
    return text;
}

std::vector<DayCount> PlotDays(const GroupSummary& group, const Period& period) {
    std::int64_t first = period.since ? period.since : group.firstSeen;
    std::int64_t last = period.until ? period.until - 1 : group.lastSeen;
    for (const DayCount& day : group.perDay) {
        if (!period.since) first = std::min(first, day.day);
        if (!period.until) last = std::max(last, day.day);
    }
    return ContinuousDays(group.perDay, first, last);
}

std::string GroupTitle(const GroupKey& key) {
    return key.program + (key.programVersion.empty() ? "" : " " + key.programVersion) + ", " +
           HexExitCode(key.exitCode);
}

std::string ShareCell(std::int64_t count, std::int64_t total, double share) {
    return "<td class=\"num\">" + std::to_string(count) + " из " + std::to_string(total) + " (" + PercentText(share) +
           ")</td>";
}

std::string PValueText(double p) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, p < 0.001 ? "%.1e" : "%.3f", p);
    return buffer;
}

std::string FileEntryCells(const FileEntry& entry) {
    return Cell(entry.name) + Cell(entry.folder) + "<td class=\"num\">" + E(entry.size) + "</td>" +
           Cell(entry.productVersion) + NoWrapCell(entry.created) + NoWrapCell(entry.modified) +
           Cell(entry.description) + Cell(entry.company);
}

constexpr const char* kWritableMark = "папка доступна пользователю на запись";

std::string FileTable(const std::vector<FileEntry>& entries) {
    if (entries.empty()) return "<p>Нет.</p>";
    std::string table = "<table class=\"files\">" + HeaderRow({"Имя", "Папка", "Размер", "Версия", "Создан", "Изменён",
                                                               "Описание", "Компания", "Расположение"});
    for (const FileEntry& entry : entries) {
        const bool writable = IsUserWritableFolder(entry.folder);
        table += std::string(writable ? "<tr class=\"writable\">" : "<tr>") + FileEntryCells(entry) + "<td>" +
                 (writable ? std::string("⚠ ") + kWritableMark : std::string()) + "</td></tr>";
    }
    return table + "</table>";
}

std::string ReportTable(const std::vector<ReportSummary>& reports) {
    if (reports.empty()) return "<p>Отчётов нет.</p>";
    std::string table =
        "<table>" + HeaderRow({"№", "Получен", "Программа", "Версия", "Windows", "Код выхода", "Находка", "Группа"});
    for (const ReportSummary& report : reports) {
        table += "<tr><td>" + Link("/reports/" + std::to_string(report.id), std::to_string(report.id)) + "</td>" +
                 NoWrapCell(DateTimeText(report.receivedAt)) + Cell(report.program) + Cell(report.programVersion) +
                 Cell(report.os) + NoWrapCell(ExitCodeText(report.exitCode)) +
                 Cell(FindingSentence(report.findingKind, report.findingModule)) + "<td>" +
                 (report.groupId ? Link("/groups/" + std::to_string(report.groupId), "группа") : "запуск состоялся") +
                 "</td></tr>";
    }
    return table + "</table>";
}

std::string DiffTable(const std::vector<DiffRow>& rows, const char* controlName) {
    if (rows.empty()) return "<p>Ни один признак не отличает эти отказы заметно.</p>";
    std::string table =
        "<table>" + HeaderRow({"Признак", "Значение", "В отказах", controlName, "Разница", "p (с поправкой)"});
    for (const DiffRow& row : rows) {
        table += "<tr>" + Cell(DimensionText(row.dimension)) + Cell(row.value) +
                 ShareCell(row.groupCount, row.groupTotal, row.groupShare) +
                 ShareCell(row.controlCount, row.controlTotal, row.controlShare) + "<td class=\"num\">" +
                 PointsText(row.groupShare - row.controlShare) + "</td><td class=\"num\">" + PValueText(row.pValue) +
                 "</td></tr>";
    }
    return table + "</table>";
}

// What "what differs" compared the group with, said plainly; nothing when
// there were no successful runs at all.
std::string ControlNote(const GroupDetail& group) {
    const std::string runs = std::to_string(group.controlRuns);
    if (group.controlRuns == 0) {
        return "<p class=\"note\">Сравнивать не с чем: успешных запусков за этот период нет ни у этой программы, "
               "ни у других (0), поэтому отличия не искались.</p>";
    }
    if (group.controlIsAllPrograms) {
        return "<p class=\"note\">Успешных запусков этой программы слишком мало: для сравнения взяты успешные "
               "запуски всех программ (" + runs + ").</p>";
    }
    return "<p class=\"note\">Для сравнения взяты успешные запуски этой программы (" + runs + ").</p>";
}

std::string TextInput(const char* name, const char* label, const std::string& value) {
    return std::string("<label>") + label + " <input type=\"text\" name=\"" + name + "\" value=\"" + E(value) +
           "\"></label>";
}

}  // namespace

std::string FilterQuery(const ReportFilter& filter) {
    std::string query;
    const auto add = [&](const char* name, const std::string& value) {
        if (value.empty()) return;
        query += std::string(query.empty() ? "" : "&") + name + "=" + EncodeQueryComponent(value);
    };
    add("program", filter.program);
    add("module", filter.module);
    add("company", filter.company);
    add("image", filter.image);
    if (filter.exitCode) add("exitcode", HexExitCode(*filter.exitCode));
    if (filter.period.since) add("since", IsoDateText(filter.period.since));
    if (filter.period.until) add("until", IsoDateText(filter.period.until - 1));
    if (filter.groupId) add("group", std::to_string(filter.groupId));
    return query;
}

// Reports lost to the collector's refusals, so that staff know the groups
// below do not count them.
std::string RefusedNote(const std::vector<RefusalCount>& refused) {
    static const std::map<std::string_view, std::string_view> kReasons = {
        {"malformed", "неверный формат"},      {"over_limits", "сверх пределов отчёта"},
        {"too_frequent", "слишком часто"},      {"queue_full", "очередь заполнена"},
        {"stopping", "сервер останавливался"}, {"store_failed", "ошибка хранилища"}};
    std::int64_t total = 0;
    std::string reasons;
    for (const RefusalCount& count : refused) {
        total += count.count;
        auto known = kReasons.find(count.reason);
        reasons += std::string(reasons.empty() ? "" : ", ") +
                   E(known == kReasons.end() ? count.reason : known->second) + ": " + std::to_string(count.count);
    }
    if (total == 0) return {};
    return "<p class=\"note\">Не принято отчётов: " + std::to_string(total) + " (" + reasons + ").</p>";
}

std::string GroupsPage(const std::vector<GroupSummary>& groups, const std::vector<RefusalCount>& refused,
                       const Period& period, const PageFrame& frame) {
    std::string body = PeriodForm("/", period) + "<p>" + E(PeriodText(period)) + ": групп " +
                       std::to_string(groups.size()) + ".</p>" + RefusedNote(refused);
    if (groups.empty()) return Page("Группы отказов", body + "<p>Отказов за этот период нет.</p>", frame);
    body += "<table>" + HeaderRow({"Программа", "Версия", "Код выхода", "Находка", "Отказов", "Доля отказов", "По дням",
                                   "Впервые", "Последний", ""});
    for (const GroupSummary& group : groups) {
        const std::string href = WithQuery("/groups/" + std::to_string(group.id), PeriodQuery(period));
        body += "<tr><td>" + Link(href, group.key.program) + "</td>" + Cell(group.key.programVersion) +
                NoWrapCell(ExitCodeText(group.key.exitCode)) +
                Cell(FindingSentence(group.key.findingKind, group.key.findingModule)) + NumberCell(group.count) +
                "<td class=\"num\">" + PercentText(group.failureRate) + " из " + std::to_string(group.versionRuns) +
                "</td><td>" + SparklineSvg(PlotDays(group, period)) + "</td>" +
                NoWrapCell(DateTimeText(group.firstSeen)) + NoWrapCell(DateTimeText(group.lastSeen)) + "<td>" +
                (group.isNew ? "<span class=\"new\">новая</span>" : "") + "</td></tr>";
    }
    return Page("Группы отказов", body + "</table>", frame);
}

std::string GroupPage(const GroupDetail& group, const Period& period, const PageFrame& frame) {
    const GroupSummary& summary = group.summary;
    std::string body = PeriodForm("/groups/" + std::to_string(summary.id), period);
    body += "<dl><dt>Программа</dt><dd>" + E(summary.key.program) + "</dd><dt>Версия</dt><dd>" +
            E(summary.key.programVersion.empty() ? "—" : summary.key.programVersion) + "</dd><dt>Код выхода</dt><dd>" +
            ExitCodeText(summary.key.exitCode) + "</dd><dt>Находка</dt><dd>" +
            E(FindingSentence(summary.key.findingKind, summary.key.findingModule)) + "</dd><dt>Отказов " +
            E(PeriodText(period)) + "</dt><dd>" + std::to_string(summary.count) + "</dd><dt>Доля отказов</dt><dd>" +
            PercentText(summary.failureRate) + " из " + std::to_string(summary.versionRuns) +
            " запусков этой версии</dd><dt>Впервые</dt><dd>" + DateTimeText(summary.firstSeen) +
            "</dd><dt>Последний</dt><dd>" + DateTimeText(summary.lastSeen) + "</dd><dt>Версии Windows</dt><dd>";
    for (std::size_t i = 0; i < summary.osVersions.size(); ++i) {
        body += (i ? ", " : "") + E(summary.osVersions[i].first) + " (" + std::to_string(summary.osVersions[i].second) +
                ")";
    }
    body += "</dd></dl>";
    body += "<h2>Отчётов за день</h2>" + DailyBarsSvg(PlotDays(summary, period));
    body += "<h2>Что отличает эти отказы</h2>" + ControlNote(group);
    if (group.controlRuns > 0) {
        body += DiffTable(group.differs, group.controlIsAllPrograms ? "В успешных запусках всех программ"
                                                                    : "В успешных запусках программы");
    }
    ReportFilter filter;
    filter.groupId = summary.id;
    filter.period = period;
    body += "<h2>Отчёты группы</h2><p>" + Link(WithQuery("/reports", FilterQuery(filter)), "Все отчёты группы") +
            " · " + Link(WithQuery("/reports.csv", FilterQuery(filter)), "CSV") + "</p>" + ReportTable(group.reports);
    return Page("Группа: " + GroupTitle(summary.key), body, frame);
}

std::string ReportPage(const Report& report, const PageFrame& frame) {
    std::string body = "<dl><dt>Получен</dt><dd>" + DateTimeText(report.receivedAt) +
                       " (UTC)</dd><dt>Код выхода</dt><dd>" + ExitCodeText(report.exitCode) + "</dd>";
    if (report.failExitCode && *report.failExitCode != report.exitCode) {
        body += "<dt>Код выхода процесса, названного находкой</dt><dd>" + ExitCodeText(*report.failExitCode) + "</dd>";
    }
    body += "<dt>Windows</dt><dd>" + E(report.os) + "</dd><dt>Итог</dt><dd>";
    if (IsSuccess(report)) {
        body += "запуск состоялся";
    } else if (report.groupId) {
        body += Link("/groups/" + std::to_string(report.groupId), "отказ, группа " + GroupTitle(SignatureOf(report)));
    } else {
        body += "отказ: " + E(GroupTitle(SignatureOf(report)));
    }
    body += "</dd></dl><h2>Программа</h2>" + FileTable({report.process});
    body += "<h2>Вердикт</h2>";
    if (report.verdict.empty()) {
        body += "<p>Находок нет.</p>";
    } else {
        body += "<table>" + HeaderRow({"Находка", "Подробности", "Что делать"});
        for (const Finding& finding : report.verdict) {
            body += "<tr>" + Cell(FindingSentence(finding)) + Cell(finding.detail) + Cell(FindingAdvice(finding)) + "</tr>";
        }
        body += "</table>";
    }
    const auto writable = std::count_if(report.modules.begin(), report.modules.end(),
                                        [](const FileEntry& entry) { return IsUserWritableFolder(entry.folder); });
    body += "<h2>Запущенные процессы (" + std::to_string(report.files.size()) + ")</h2>" + FileTable(report.files);
    body += "<h2>Модули (" + std::to_string(report.modules.size()) +
            ")</h2><p class=\"note\">Из папок, доступных "
            "пользователю на запись, загружено модулей: " +
            std::to_string(writable) +
            ". Защищёнными считаются только папки системы, Windows и Program Files (%SYSTEM%, %WIN%, "
            "%PROGRAMFILES%, … и их полные пути), кроме общих для записи (Temp, Tasks, spool\\drivers\\color); "
            "профиль пользователя, %APPDATA%, %LOCAL_APPDATA%, %DESKTOP%, временные и все прочие папки — "
            "доступны на запись.</p>" +
            FileTable(report.modules);
    return Page("Отчёт № " + std::to_string(report.id) + ": " + report.process.name, body, frame);
}

std::string ReportsPage(const ReportFilter& filter, const std::vector<ReportSummary>& reports, const PageFrame& frame) {
    std::string body = "<form class=\"filter\" method=\"get\" action=\"/reports\">" +
                       TextInput("program", "Программа", filter.program) +
                       TextInput("module", "Модуль", filter.module) + TextInput("company", "Компания", filter.company) +
                       TextInput("image", "Запущенный процесс", filter.image) +
                       TextInput("exitcode", "Код выхода", filter.exitCode ? HexExitCode(*filter.exitCode) : "") +
                       DateInput("since", "С", filter.period.since) +
                       DateInput("until", "по", filter.period.until ? filter.period.until - 1 : 0);
    if (filter.groupId) {
        body += "<input type=\"hidden\" name=\"group\" value=\"" + std::to_string(filter.groupId) + "\">";
    }
    const std::string query = FilterQuery(filter);
    body += "<button type=\"submit\">Найти</button></form><p>Найдено: " + std::to_string(reports.size()) +
            (reports.size() == filter.limit ? " (показаны первые)" : "") + ". " +
            Link(WithQuery("/reports.csv", query), "Скачать CSV") + "</p>" + ReportTable(reports);
    if (reports.size() == filter.limit) {
        body += "<p>" +
                Link("/reports?" + query + (query.empty() ? "" : "&") +
                         "offset=" + std::to_string(filter.offset + filter.limit),
                     "Следующие") +
                "</p>";
    }
    return Page("Отчёты", body, frame);
}

std::string FailureModulesPage(const std::vector<DiffRow>& rows, const Period& period, const PageFrame& frame) {
    std::string body = PeriodForm("/modules", period) +
                       "<p>Модули, присутствие которых сопровождает отказы сразу многих программ (внедрённая "
                       "библиотека, устаревшая среда выполнения), " +
                       E(PeriodText(period)) + ".</p>";
    if (rows.empty()) return Page("Модули и отказы", body + "<p>Таких модулей нет.</p>", frame);
    body += "<table>" + HeaderRow({"Модуль", "Программ", "В отказах", "В успешных запусках", "p (с поправкой)"});
    for (const DiffRow& row : rows) {
        body += "<tr>" + Cell(row.value) + NumberCell(row.programs) +
                ShareCell(row.groupCount, row.groupTotal, row.groupShare) +
                ShareCell(row.controlCount, row.controlTotal, row.controlShare) + "<td class=\"num\">" +
                PValueText(row.pValue) + "</td></tr>";
    }
    return Page("Модули и отказы", body + "</table>", frame);
}

std::string LoginPage(const std::string& csrfToken, const std::string& next, const std::string& message) {
    std::string body;
    if (!message.empty()) body += "<p class=\"error\">" + E(message) + "</p>";
    body += "<form class=\"login\" method=\"post\" action=\"/login\"><input type=\"hidden\" name=\"csrf\" value=\"" +
            E(csrfToken) + "\"><input type=\"hidden\" name=\"next\" value=\"" + E(next) +
            "\"><label>Пароль <input type=\"password\" name=\"password\" autocomplete=\"current-password\" "
            "autofocus required></label><button type=\"submit\">Войти</button></form>";
    return Document("Вход", "", body);
}

std::string MessagePage(const std::string& title, const std::string& message) {
    return Document(title, "<header><nav><a href=\"/\">Группы отказов</a></nav></header>", "<p>" + E(message) + "</p>");
}

const char kStyleSheet[] = R"(body{font:14px/1.4 system-ui,sans-serif;margin:0;color:#222;background:#fafafa}
header{background:#2d3e50;padding:6px 16px}
nav{display:flex;gap:16px;align-items:center}
nav a{color:#fff;text-decoration:none;font-weight:600}
nav form{margin-left:auto}
main{padding:8px 16px}
h1{font-size:20px}h2{font-size:16px;margin-top:24px}
table{border-collapse:collapse;background:#fff;margin:8px 0}
th,td{border:1px solid #ccc;padding:3px 6px;text-align:left;vertical-align:top;overflow-wrap:anywhere}
th{background:#e8ecf0;white-space:nowrap}
td.num{text-align:right;white-space:nowrap}td.nowrap,.new{white-space:nowrap}
tr.writable td{background:#fff1d6}
.new{background:#b03030;color:#fff;border-radius:3px;padding:0 4px}
.note{color:#555}.error{color:#b03030;font-weight:600}
dl{display:grid;grid-template-columns:max-content auto;gap:2px 12px}dt{font-weight:600}dd{margin:0}
form.filter{display:flex;flex-wrap:wrap;gap:8px;align-items:end;margin:8px 0}
form.login{display:flex;flex-direction:column;gap:8px;max-width:320px}
)";

}  // namespace collector
