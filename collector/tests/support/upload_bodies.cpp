// Test bodies: the real form builder over facts given as UTF-8.
#include "collector/tests/support/upload_bodies.h"

#include <map>

#include "collector/ingest/cp1251.h"
#include "report/upload_body.h"

namespace collector::testing {

std::string EncodeWindows1251(std::string_view utf8) {
    static const std::map<std::string, char> kBytes = [] {
        std::map<std::string, char> bytes;
        for (int byte = 1; byte < 256; ++byte)
            if (byte != 0x98) bytes[DecodeWindows1251(std::string(1, static_cast<char>(byte)))] = static_cast<char>(byte);
        return bytes;
    }();
    std::string out;
    for (std::size_t at = 0; at < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : 3;
        out += kBytes.at(std::string(utf8.substr(at, length)));
        at += length;
    }
    return out;
}

namespace {

std::string JoinedFields(const FileEntry& e) {
    return e.name + ";" + e.folder + ";" + e.size + ";" + e.productVersion + ";" + e.created + ";" + e.modified +
           ";" + e.description + ";" + e.company;
}

}  // namespace

std::string UploadLineOf(const FileEntry& entry) {
    return EncodeWindows1251(JoinedFields(entry));
}

namespace {

UploadFields FieldsOf(const FileEntry& e) {
    return {EncodeWindows1251(e.name),           EncodeWindows1251(e.folder),   EncodeWindows1251(e.size),
            EncodeWindows1251(e.productVersion), EncodeWindows1251(e.created),  EncodeWindows1251(e.modified),
            EncodeWindows1251(e.description),    EncodeWindows1251(e.company)};
}

std::string WithEmptyVerdictAndFailCode(std::string body, const Report& report, bool withVerdict) {
    if (withVerdict && report.verdict.empty())
        body += "&verdict=";  // zar.exe leaves the piece out then; an empty one is accepted too
    if (withVerdict && !report.verdict.empty() && report.failExitCode)
        body += "&failexitcode=" + std::to_string(*report.failExitCode);
    return EscapePlus(body);
}

}  // namespace

std::string BodyOf(const Report& report, bool withVerdict) {
    UploadEntries entries;
    entries.process = FieldsOf(report.process);
    for (const FileEntry& entry : report.files) entries.files.push_back(FieldsOf(entry));
    for (const FileEntry& entry : report.modules) entries.modules.push_back(FieldsOf(entry));
    if (withVerdict)
        for (const Finding& f : report.verdict)
            entries.findings.push_back(
                {EncodeWindows1251(f.kind), EncodeWindows1251(f.module), EncodeWindows1251(f.detail)});
    return WithEmptyVerdictAndFailCode(BuildReportBody(entries, report.exitCode, report.os), report, withVerdict);
}

std::string SemicolonBodyOf(const Report& report, bool withVerdict) {
    std::vector<std::string> files, modules;
    for (const FileEntry& entry : report.files) files.push_back(UploadLineOf(entry));
    for (const FileEntry& entry : report.modules) modules.push_back(UploadLineOf(entry));
    std::string body = BuildUploadBody(UploadLineOf(report.process), report.exitCode, report.os, files, modules);
    std::vector<std::string> findings;
    for (const Finding& f : report.verdict) findings.push_back(EncodeWindows1251(f.kind + ";" + f.module + ";" + f.detail));
    if (withVerdict) body += VerdictPiece(findings);
    return WithEmptyVerdictAndFailCode(body, report, withVerdict);
}

std::string ReportText(const Report& report) {
    std::string text = "process " + JoinedFields(report.process) + "\nexit " + std::to_string(report.exitCode) +
                       "\nos " + report.os + "\n";
    for (const FileEntry& entry : report.files) text += "file " + JoinedFields(entry) + "\n";
    for (const FileEntry& entry : report.modules) text += "module " + JoinedFields(entry) + "\n";
    for (const Finding& f : report.verdict) text += "finding " + f.kind + ";" + f.module + ";" + f.detail + "\n";
    if (report.failExitCode) text += "failexit " + std::to_string(*report.failExitCode) + "\n";
    return text;
}

Report SampleReport(std::size_t modules, std::size_t images) {
    Report report;
    report.process = {"demo.exe", "C:\\Demo & Co", "5120", "1.0+beta", "05.03.2013", "06.03.2013",
                      "Описание: пишет &files= в журнал", "ООО «Ромашка»"};
    report.exitCode = 0xC0000142;
    report.os = "6.1.7601";
    for (std::size_t i = 0; i < images; ++i)
        report.files.push_back({"image" + std::to_string(i) + ".exe", "%SYSTEM%", "20480", "6.1.7601.17514",
                                "14.07.2009", "20.11.2010", "Процесс " + std::to_string(i), "Microsoft Corporation"});
    for (std::size_t i = 0; i < modules; ++i)
        report.modules.push_back({"module" + std::to_string(i) + ".dll", "%SYSTEM%", "1024", "", "01.01.2020",
                                  "02.01.2020", "", ""});
    if (modules > 0) report.modules.back() = {"helper.dll", "C:\\Users\\%USERNAME%\\AppData\\Local\\Тест",
                                              "777", "2.0", "", "", "Библиотека C++", "Ромашка"};
    report.verdict.push_back({"dll_init_failed", "C:\\Users\\%USERNAME%\\AppData\\Local\\Тест\\helper.dll",
                              "0xC0000142"});
    return report;
}

}  // namespace collector::testing
