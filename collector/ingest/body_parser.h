// The upload body as zar.exe sends it, read back into a report: the pieces in
// their fixed order, the entries by their structure, the texts decoded from
// Windows-1251 and user names taken out of paths. Pure: bytes in, report out.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "collector/core/report.h"

namespace collector {

struct ParsedBody {
    std::optional<Report> report;  // empty when the body is not a report
    std::string reason;            // then why, in one line
};

// Only a body that can be read in exactly one way is a report: an entry with a
// separator or a line feed inside one of its fields cannot, and is refused
// rather than split wrongly.
ParsedBody ParseUploadBody(std::string_view body);

}  // namespace collector
