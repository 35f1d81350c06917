// The verdict's findings: what the run saw of each process that bears on why a
// program did not start, and the rules that turn it into named causes, in the
// order a reader should meet them. Pure rules over plain records.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "verdict/records.h"

// The codes with which the loader ends a process whose imports cannot be resolved.
bool IsImportFailureStatus(std::uint32_t exitCode);

// Every finding of the run: first the causes, per process in the order the
// processes ended (the desktop heap before the initialisation it broke, a
// failed initialisation before the AppInit_DLLs line on it, then import
// problems, unhandled exceptions, and last an error exit status that nothing
// before it explains); after all causes, the notes on DLLs that refused their
// initialisation in processes that ran on.
std::vector<Finding> FindStartFailures(const std::vector<ProcessOutcome>& processes, const MachineSettings& machine);

// Whether the finding explains a failed start on its own: not a note, nor a
// line that only accompanies another finding (the desktop heap, AppInit_DLLs).
bool ExplainsFailure(const Finding& finding);
// The exit code of the process that the first explaining finding names; none without such a finding.
std::optional<std::uint32_t> FailedExitCode(const std::vector<Finding>& findings,
                                            const std::vector<ProcessOutcome>& processes);
