// The upload body as zar.exe sends it, read back into a report: the pieces in
// their fixed order, the entries by their structure, the texts decoded from
// Windows-1251 and user names taken out of paths. Pure: bytes in, report out,
// in time and memory linear in the body.
#pragma once
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "collector/core/report.h"

namespace collector {

// The separators a body may declare in "&separator=", in the order zar.exe
// tries them: the first that no field of the report holds.
inline constexpr std::array<char, 4> kBodySeparators = {';', '|', '\t', '\x1F'};

// What one report may hold. A Windows machine's report has 100-400 modules,
// 50-150 running images and a handful of findings; the caps leave more than
// ten times that. A field is a path at most as long as Windows allows one.
struct BodyLimits {
    std::size_t files = 2000;
    std::size_t modules = 5000;
    std::size_t findings = 1000;
    std::size_t fieldBytes = 32767;
};

enum class BodyFault {
    None,
    Malformed,   // not a report, or one that cannot be read in exactly one way
    OverLimits,  // a report holding more than BodyLimits allows
};

struct ParsedBody {
    std::optional<Report> report;  // empty when the body is refused
    BodyFault fault = BodyFault::None;
    std::string reason;            // then why, in one line
};

// Only a body that can be read in exactly one way is a report: an entry with a
// separator or a line feed inside one of its fields cannot, and is refused
// rather than split wrongly. A body over the limits is refused before its
// entries are taken apart.
ParsedBody ParseUploadBody(std::string_view body, const BodyLimits& limits = {});

}  // namespace collector
