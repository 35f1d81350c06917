// JSON documents of the API and the CSV export.
#include "collector/web/exports.h"

#include <cstdio>

#include "collector/web/escape.h"
#include "collector/web/view_text.h"

namespace collector {

namespace {

// A JSON object written member by member.
class JsonObject {
public:
    JsonObject& Text(const char* name, std::string_view value) { return Raw(name, JsonString(value)); }
    JsonObject& Number(const char* name, std::int64_t value) { return Raw(name, std::to_string(value)); }
    JsonObject& Fraction(const char* name, double value) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.6g", value);
        return Raw(name, buffer);
    }
    JsonObject& Flag(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }
    JsonObject& Time(const char* name, std::int64_t seconds) {
        return seconds ? Text(name, IsoTimeText(seconds)) : Raw(name, "null");
    }
    JsonObject& Raw(const char* name, const std::string& json) {
        text_ += (text_.size() > 1 ? ",\"" : "\"") + std::string(name) + "\":" + json;
        return *this;
    }
    std::string Done() { return text_ + "}"; }

private:
    std::string text_ = "{";
};

template <typename Item, typename Write>
std::string JsonArray(const std::vector<Item>& items, Write write) {
    std::string text = "[";
    for (std::size_t i = 0; i < items.size(); ++i) text += (i ? "," : "") + write(items[i]);
    return text + "]";
}

JsonObject& ExitCode(JsonObject& object, std::uint32_t code) {
    return object.Number("exitCode", code).Text("exitCodeHex", HexExitCode(code));
}

std::string SummaryJson(const GroupSummary& group) {
    JsonObject object;
    object.Number("id", group.id).Text("program", group.key.program).Text("programVersion", group.key.programVersion);
    ExitCode(object, group.key.exitCode)
        .Text("findingKind", group.key.findingKind)
        .Text("findingModule", group.key.findingModule)
        .Number("count", group.count)
        .Number("versionRuns", group.versionRuns)
        .Fraction("failureRate", group.failureRate)
        .Time("firstSeen", group.firstSeen)
        .Time("lastSeen", group.lastSeen)
        .Flag("isNew", group.isNew)
        .Raw("perDay",
             JsonArray(group.perDay,
                       [](const DayCount& day) {
                           return JsonObject().Text("day", IsoDateText(day.day)).Number("count", day.count).Done();
                       }))
        .Raw("osVersions", JsonArray(group.osVersions, [](const auto& os) {
                 return JsonObject().Text("os", os.first).Number("count", os.second).Done();
             }));
    return object.Done();
}

std::string DiffJson(const DiffRow& row) {
    return JsonObject()
        .Text("dimension", row.dimension)
        .Text("value", row.value)
        .Number("groupCount", row.groupCount)
        .Number("groupTotal", row.groupTotal)
        .Fraction("groupShare", row.groupShare)
        .Number("controlCount", row.controlCount)
        .Number("controlTotal", row.controlTotal)
        .Fraction("controlShare", row.controlShare)
        .Fraction("pValue", row.pValue)
        .Number("programs", row.programs)
        .Done();
}

std::string SummaryJson(const ReportSummary& report) {
    JsonObject object;
    object.Number("id", report.id)
        .Time("receivedAt", report.receivedAt)
        .Text("program", report.program)
        .Text("programVersion", report.programVersion)
        .Text("os", report.os);
    return ExitCode(object, report.exitCode)
        .Text("findingKind", report.findingKind)
        .Text("findingModule", report.findingModule)
        .Number("groupId", report.groupId)
        .Done();
}

std::string EntryJson(const FileEntry& entry) {
    return JsonObject()
        .Text("name", entry.name)
        .Text("folder", entry.folder)
        .Text("size", entry.size)
        .Text("productVersion", entry.productVersion)
        .Text("created", entry.created)
        .Text("modified", entry.modified)
        .Text("description", entry.description)
        .Text("company", entry.company)
        .Done();
}

}  // namespace

std::string GroupsJson(const std::vector<GroupSummary>& groups) {
    return JsonArray(groups, [](const GroupSummary& group) { return SummaryJson(group); });
}

std::string GroupJson(const GroupDetail& group) {
    return JsonObject()
        .Raw("group", SummaryJson(group.summary))
        .Flag("controlIsAllPrograms", group.controlIsAllPrograms)
        .Number("controlRuns", group.controlRuns)
        .Raw("differs", JsonArray(group.differs, DiffJson))
        .Raw("reports", ReportsJson(group.reports))
        .Done();
}

std::string ReportsJson(const std::vector<ReportSummary>& reports) {
    return JsonArray(reports, [](const ReportSummary& report) { return SummaryJson(report); });
}

std::string ReportJson(const Report& report) {
    JsonObject object;
    object.Number("id", report.id).Time("receivedAt", report.receivedAt).Raw("process", EntryJson(report.process));
    return ExitCode(object, report.exitCode)
        .Text("os", report.os)
        .Raw("failExitCode", report.failExitCode ? std::to_string(*report.failExitCode) : "null")
        .Flag("success", IsSuccess(report))
        .Number("groupId", report.groupId)
        .Raw("verdict", JsonArray(report.verdict,
                                  [](const Finding& finding) {
                                      return JsonObject()
                                          .Text("kind", finding.kind)
                                          .Text("module", finding.module)
                                          .Text("detail", finding.detail)
                                          .Done();
                                  }))
        .Raw("files", JsonArray(report.files, EntryJson))
        .Raw("modules", JsonArray(report.modules, EntryJson))
        .Done();
}

std::string FailureModulesJson(const std::vector<DiffRow>& rows) { return JsonArray(rows, DiffJson); }

std::string ErrorJson(const std::string& message) { return JsonObject().Text("error", message).Done(); }

std::string ReportsCsv(const std::vector<ReportSummary>& reports) {
    std::string csv =
        "\xEF\xBB\xBFid,receivedAt,program,programVersion,os,exitCode,exitCodeHex,findingKind,"
        "findingModule,groupId\r\n";
    for (const ReportSummary& report : reports) {
        csv += std::to_string(report.id) + "," + IsoTimeText(report.receivedAt) + "," + CsvCell(report.program) + "," +
               CsvCell(report.programVersion) + "," + CsvCell(report.os) + "," + std::to_string(report.exitCode) + "," +
               HexExitCode(report.exitCode) + "," + CsvCell(report.findingKind) + "," + CsvCell(report.findingModule) +
               "," + std::to_string(report.groupId) + "\r\n";
    }
    return csv;
}

}  // namespace collector
