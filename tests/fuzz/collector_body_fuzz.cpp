// Fuzzes the collector's reading of upload bodies. Any bytes: a report or a
// one-line reason, never a crash, and every stored text valid UTF-8 without
// NUL. Bodies built by zar.exe's own builder from fields without separators or
// line feeds: always a report, with every entry.
#include <cstdlib>
#include <string>
#include <vector>

#include "collector/ingest/body_parser.h"
#include "report/upload_body.h"
#include "tests/fuzz/fuzz_input.h"

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

// An entry of `fields` fields whose bytes are anything but ";" and line feeds.
std::string Entry(FuzzInput& in, std::size_t fields) {
    std::string entry = "x";
    for (std::size_t i = 0; i < fields; ++i) {
        if (i > 0) entry += ';';
        for (std::size_t n = in.Byte() % 16; n > 0 && !in.empty(); --n) {
            char byte = static_cast<char>(in.Byte());
            entry += (byte == ';' || byte == '\n') ? '&' : byte;
        }
    }
    return entry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && data[0] % 2 == 0) {
        collector::ParsedBody parsed = collector::ParseUploadBody(
            std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
        Check(parsed.report.has_value() == parsed.reason.empty());
        Check(parsed.reason.find('\n') == std::string::npos);
        if (parsed.report) CheckTexts(*parsed.report);
        return 0;
    }
    FuzzInput in(data, size);
    in.Byte();
    std::string process = Entry(in, 8);
    std::vector<std::string> files(in.Byte() % 4), modules(in.Byte() % 4), findings(in.Byte() % 3);
    for (std::string& line : files) line = Entry(in, 8);
    for (std::string& line : modules) line = Entry(in, 8);
    for (std::string& line : findings) line = Entry(in, 3);
    std::string body = BuildUploadBody(process, in.Number(), "6.1.7601", files, modules);
    if (!findings.empty()) {
        body += "&verdict=";
        for (const std::string& line : findings) body += line + "\n";
    }
    collector::ParsedBody parsed = collector::ParseUploadBody(EscapePlus(body));
    Check(parsed.report.has_value());
    Check(parsed.report->files.size() == files.size() && parsed.report->modules.size() == modules.size() &&
          parsed.report->verdict.size() == findings.size());
    CheckTexts(*parsed.report);
    return 0;
}
