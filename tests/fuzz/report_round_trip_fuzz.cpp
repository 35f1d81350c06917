// Fuzzes zar.exe's report body against the collector's reading of it: fields
// of any bytes but those that make a path or a piece name ("\", "/", "&", "%",
// NUL) come back exactly, whatever separators and line breaks they hold, but
// for the line breaks (and 0x1F when every separator is held), which go as
// blanks.
#include <cstdlib>
#include <string>
#include <vector>

#include "collector/ingest/body_parser.h"
#include "collector/ingest/cp1251.h"
#include "report/upload_body.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::string Field(FuzzInput& in) {
    std::string bytes;
    for (std::size_t n = in.Byte() % 12; n > 0 && !in.empty(); --n) {
        const char byte = static_cast<char>(in.Byte());
        if (byte != '\\' && byte != '/' && byte != '&' && byte != '%' && byte != '\0') bytes += byte;
    }
    return bytes;
}

UploadFields Entry(FuzzInput& in, std::size_t fields) {
    UploadFields entry;
    for (std::size_t i = 0; i < fields; ++i) entry.push_back(Field(in));
    return entry;
}

// What the collector should read back of a field sent with `separator`.
std::string Expected(const std::string& field, char separator) {
    std::string blanked;
    for (char byte : field) blanked += byte == '\n' || byte == '\r' || byte == separator ? ' ' : byte;
    return collector::DecodeWindows1251(blanked);
}

void CheckEntry(const collector::FileEntry& read, const UploadFields& sent, char separator) {
    const std::string* fields[] = {&read.name,     &read.folder,   &read.size,        &read.productVersion,
                                   &read.created, &read.modified, &read.description, &read.company};
    for (std::size_t i = 0; i < 8; ++i) Check(*fields[i] == Expected(sent[i], separator));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    UploadEntries entries;
    entries.process = Entry(in, 8);
    entries.files.resize(in.Byte() % 3);
    entries.modules.resize(in.Byte() % 3);
    entries.findings.resize(in.Byte() % 2);
    for (UploadFields& entry : entries.files) entry = Entry(in, 8);
    for (UploadFields& entry : entries.modules) entry = Entry(in, 8);
    for (UploadFields& entry : entries.findings) entry = Entry(in, 3);
    const std::uint32_t exitCode = in.Number();

    const char separator = ChooseFormSeparator(entries);
    collector::ParsedBody parsed =
        collector::ParseUploadBody(EscapePlus(BuildReportBody(entries, exitCode, "10.0.19045")));
    Check(parsed.report.has_value());
    const collector::Report& report = *parsed.report;
    Check(report.exitCode == exitCode && report.files.size() == entries.files.size() &&
          report.modules.size() == entries.modules.size() && report.verdict.size() == entries.findings.size());
    CheckEntry(report.process, entries.process, separator);
    for (std::size_t i = 0; i < entries.files.size(); ++i) CheckEntry(report.files[i], entries.files[i], separator);
    for (std::size_t i = 0; i < entries.modules.size(); ++i)
        CheckEntry(report.modules[i], entries.modules[i], separator);
    for (std::size_t i = 0; i < entries.findings.size(); ++i) {
        Check(report.verdict[i].kind == Expected(entries.findings[i][0], separator));
        Check(report.verdict[i].module == Expected(entries.findings[i][1], separator));
        Check(report.verdict[i].detail == Expected(entries.findings[i][2], separator));
    }
    return 0;
}
