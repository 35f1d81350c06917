// The report form: the body that the upload posts, assembled from narrow
// (Windows-1251) texts. Pure text work without system calls, so that it builds
// and runs anywhere.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Both the value of the "&separator=" field and the separator between the
// eight facts of each entry, as long as no fact holds it (every ordinary
// report).
inline constexpr std::string_view kFormSeparator = ";";
// The separators a report may use instead, in the order they are tried: the
// first that no field of the report holds. The server reads whichever the
// "&separator=" field names.
inline constexpr char kFormSeparators[] = {';', '|', '\t', '\x1F'};

// The whole form, "+" not yet escaped: the launched executable's line, the exit
// code in decimal, the OS version triple, then one entry per running image file
// and per module, each ending in its own line feed.
std::string BuildUploadBody(std::string_view processLine, std::uint32_t exitCode, std::string_view osTriple,
                            const std::vector<std::string>& fileLines, const std::vector<std::string>& moduleLines,
                            char separator = kFormSeparator[0]);

// One entry's fields as narrow texts: eight facts of a file, or the three of
// a finding.
using UploadFields = std::vector<std::string>;

struct UploadEntries {
    UploadFields process;
    std::vector<UploadFields> files;
    std::vector<UploadFields> modules;
    std::vector<UploadFields> findings;
};

// ";" unless a field holds it, otherwise the first of kFormSeparators that no
// field holds; the last of them when every one is held.
char ChooseFormSeparator(const UploadEntries& entries);

// The fields joined by the separator. A line feed or carriage return in a
// field goes as a blank, since each entry is one line; so does the separator
// itself, which a field holds only when every separator of the list is held.
std::string UploadEntryLine(const UploadFields& fields, char separator);

// The body of a report, "+" not yet escaped: the form with the chosen
// separator and, when there are findings, the verdict's piece.
std::string BuildReportBody(const UploadEntries& entries, std::uint32_t exitCode, std::string_view osTriple);

// The verdict's piece, which follows the modules: "&verdict=" and one entry
// per finding, each ending in its own line feed. Without findings there is no
// piece, so that a start with nothing to tell sends the body as it always was.
std::string VerdictPiece(const std::vector<std::string>& findingLines);

// The only escaping the server expects: every "+" becomes "%2B" (a form
// decoder would read a bare "+" as a blank); everything else goes as it is.
std::string EscapePlus(std::string_view body);
