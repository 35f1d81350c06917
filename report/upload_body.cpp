// Assembly and escaping of the report form.
#include "report/upload_body.h"

namespace {

void AppendEntries(std::string& body, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        body += line;
        body += '\n';
    }
}

}  // namespace

std::string BuildUploadBody(std::string_view processLine, std::uint32_t exitCode, std::string_view osTriple,
                            const std::vector<std::string>& fileLines, const std::vector<std::string>& moduleLines) {
    std::string body = "process=";
    body += processLine;
    body += "&exitcode=";
    body += std::to_string(exitCode);
    body += "&separator=";
    body += kFormSeparator;
    body += "&OS=";
    body += osTriple;
    body += "&files=";
    AppendEntries(body, fileLines);
    body += "&modules=";
    AppendEntries(body, moduleLines);
    return body;
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
