// Fuzzes the collector's reading of upload bodies: any bytes give a report or
// a one-line reason, never a crash, and every text of a report is valid UTF-8
// without NUL (the ingest tests read zar.exe's own bodies back).
#include <cstdlib>
#include <string>
#include <vector>

#include "collector/ingest/body_parser.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool IsUtf8WithoutNul(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead == 0 ? 0 : lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        i += length;
    }
    return true;
}

void CheckTexts(const collector::Report& report) {
    auto entry = [](const collector::FileEntry& e) {
        for (const std::string* f : {&e.name, &e.folder, &e.size, &e.productVersion, &e.created, &e.modified,
                                     &e.description, &e.company})
            Check(IsUtf8WithoutNul(*f));
    };
    entry(report.process);
    for (const auto& e : report.files) entry(e);
    for (const auto& e : report.modules) entry(e);
    for (const auto& f : report.verdict) Check(IsUtf8WithoutNul(f.kind + f.module + f.detail));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    collector::ParsedBody parsed =
        collector::ParseUploadBody(std::string_view(reinterpret_cast<const char*>(data), size));
    Check(parsed.report.has_value() == parsed.reason.empty());
    Check(parsed.reason.find('\n') == std::string::npos);
    if (parsed.report) CheckTexts(*parsed.report);
    return 0;
}
