// Findings in the words of zar.exe's log ("Библиотека … не инициализирована:
// DllMain вернула FALSE"), for the pages; the JSON and the CSV keep the kind.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "collector/core/report.h"

namespace collector {

// The log's statement of a finding (without the process tail, which the
// upload does not carry). An unknown kind is shown as "kind: module".
std::string FindingSentence(const Finding& finding);
// The same for a group's key, which has no detail.
std::string FindingSentence(std::string_view kind, std::string_view module);

// The advice of the log's line after the finding (what follows "Что делать: "),
// without the architecture, which the upload does not carry; empty when
// zar.exe gives none.
std::string FindingAdvice(const Finding& finding);

// The log's descriptions of exit statuses and of exceptions.
std::string_view ExitStatusDescription(std::uint32_t code);
std::string_view ExceptionDescription(std::uint32_t code);

}  // namespace collector
