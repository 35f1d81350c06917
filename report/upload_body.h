// The report form: the body that the upload posts, assembled from narrow
// (Windows-1251) texts. Pure text work without system calls, so that it builds
// and runs anywhere.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Both the value of the "&separator=" field and the separator between the
// eight facts of each entry.
inline constexpr std::string_view kFormSeparator = ";";

// The whole form, "+" not yet escaped: the launched executable's line, the exit
// code in decimal, the OS version triple, then one entry per running image file
// and per module, each ending in its own line feed.
std::string BuildUploadBody(std::string_view processLine, std::uint32_t exitCode, std::string_view osTriple,
                            const std::vector<std::string>& fileLines, const std::vector<std::string>& moduleLines);

// The verdict's piece, which follows the modules: "&verdict=" and one entry
// per finding, each ending in its own line feed. Without findings there is no
// piece, so that a start with nothing to tell sends the body as it always was.
std::string VerdictPiece(const std::vector<std::string>& findingLines);

// The only escaping the server expects: every "+" becomes "%2B" (a form
// decoder would read a bare "+" as a blank); everything else goes as it is.
std::string EscapePlus(std::string_view body);
