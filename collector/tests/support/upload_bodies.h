// Upload bodies as zar.exe builds them (its own BuildUploadBody and EscapePlus,
// compiled natively), from UTF-8 texts turned into Windows-1251 bytes, for the
// ingest tests and the server tests.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "collector/core/report.h"

namespace collector::testing {

// The inverse of DecodeWindows1251 for every text it gives, but U+FFFD.
std::string EncodeWindows1251(std::string_view utf8);

// One entry's line in the form UploadLine gives it, as 1251 bytes.
std::string UploadLineOf(const FileEntry& entry);

// The escaped body for the report's facts as zar.exe builds it (the separator
// chosen so that no field holds it, line feeds as blanks), "&verdict=" with
// its entries appended when `withVerdict` (as the verdict's upload does), and
// after its entries "&failexitcode=" when the report has one.
std::string BodyOf(const Report& report, bool withVerdict);
// The same, its fields always joined by ";" and nothing in them changed, as
// zar.exe built bodies before it chose a separator per report.
std::string SemicolonBodyOf(const Report& report, bool withVerdict);

// Every fact of the report, one line per entry, for comparisons that show
// what differs.
std::string ReportText(const Report& report);

// A report like a real run's: a Russian description, "+" and "&files=" in
// texts, a module in the user's profile, `modules` modules and `images`
// running images, exit code 0xC0000142 and one finding.
Report SampleReport(std::size_t modules = 3, std::size_t images = 2);

}  // namespace collector::testing
