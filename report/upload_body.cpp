// Assembly and escaping of the report form.
#include "report/upload_body.h"

#include <iterator>

namespace {

void AppendEntries(std::string& body, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        body += line;
        body += '\n';
    }
}

bool Holds(const UploadFields& fields, char separator) {
    for (const std::string& field : fields)
        if (field.find(separator) != std::string::npos) return true;
    return false;
}

bool AnyHolds(const std::vector<UploadFields>& entries, char separator) {
    for (const UploadFields& fields : entries)
        if (Holds(fields, separator)) return true;
    return false;
}

std::vector<std::string> Lines(const std::vector<UploadFields>& entries, char separator) {
    std::vector<std::string> lines;
    lines.reserve(entries.size());
    for (const UploadFields& fields : entries) lines.push_back(UploadEntryLine(fields, separator));
    return lines;
}

}  // namespace

std::string BuildUploadBody(std::string_view processLine, std::uint32_t exitCode, std::string_view osTriple,
                            const std::vector<std::string>& fileLines, const std::vector<std::string>& moduleLines,
                            char separator) {
    std::string body = "process=";
    body += processLine;
    body += "&exitcode=";
    body += std::to_string(exitCode);
    body += "&separator=";
    body += separator;
    body += "&OS=";
    body += osTriple;
    body += "&files=";
    AppendEntries(body, fileLines);
    body += "&modules=";
    AppendEntries(body, moduleLines);
    return body;
}

char ChooseFormSeparator(const UploadEntries& entries) {
    for (char separator : kFormSeparators) {
        if (!Holds(entries.process, separator) && !AnyHolds(entries.files, separator) &&
            !AnyHolds(entries.modules, separator) && !AnyHolds(entries.findings, separator))
            return separator;
    }
    return kFormSeparators[std::size(kFormSeparators) - 1];
}

std::string UploadEntryLine(const UploadFields& fields, char separator) {
    std::string line;
    for (const std::string& field : fields) {
        if (&field != &fields.front()) line += separator;
        for (char byte : field) line += byte == '\n' || byte == '\r' || byte == separator ? ' ' : byte;
    }
    return line;
}

std::string BuildReportBody(const UploadEntries& entries, std::uint32_t exitCode, std::string_view osTriple) {
    const char separator = ChooseFormSeparator(entries);
    std::string body = BuildUploadBody(UploadEntryLine(entries.process, separator), exitCode, osTriple,
                                       Lines(entries.files, separator), Lines(entries.modules, separator), separator);
    return body + VerdictPiece(Lines(entries.findings, separator));
}

std::string VerdictPiece(const std::vector<std::string>& findingLines) {
    if (findingLines.empty()) return {};
    std::string piece = "&verdict=";
    AppendEntries(piece, findingLines);
    return piece;
}

std::string EscapePlus(std::string_view body) {
    std::string escaped;
    escaped.reserve(body.size());
    for (char byte : body) {
        if (byte == '+')
            escaped += "%2B";
        else
            escaped += byte;
    }
    return escaped;
}
