// The verdict's findings: what the run saw of each process that bears on why a
// program did not start, and the rules that turn it into named causes, in the
// order a reader should meet them. Pure rules over plain records.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "modules/import_check.h"

// The outcome of one DLL's DLL_PROCESS_ATTACH call, as the initialisation watch saw it.
// Unwound: left by an exception raised inside it, without returning.
enum class InitResult { Succeeded, Failed, Unknown, Unfinished, Unwound };

// What the initialising thread showed of why a DLL refused: each part empty
// when the run could not see it or the initialisation did not set it.
struct InitRefusal {
    // The thread's last error and last status values at the return, only when
    // the initialisation changed them (a value left from before is no reason).
    std::optional<std::uint32_t> lastError;
    std::wstring lastErrorText;  // the system's text for lastError; empty when it has none
    std::optional<std::uint32_t> lastStatus;
    std::vector<std::wstring> failedLoads;   // names asked of the loader that it refused, in order
    std::vector<std::wstring> debugStrings;  // the thread's debug output meanwhile, a few, each cut

    bool Empty() const {
        return !lastError && !lastStatus && failedLoads.empty() && debugStrings.empty();
    }
};

struct DllInitRecord {
    std::wstring path;
    InitResult result = InitResult::Unknown;
    // The first exception raised in the initialising thread while it was inside this DLL's initialisation.
    std::optional<std::uint32_t> exceptionCode;
    bool exceptionUnhandled = false;  // it came back as a second-chance exception
    bool tlsCallback = false;         // a TLS callback of the module, not its entry point
    InitRefusal refusal = {};         // filled for a DLL_PROCESS_ATTACH call that returned FALSE
};

// A second-chance exception raised outside any DLL's initialisation.
struct UnhandledException {
    std::uint32_t code = 0;
    std::wstring modulePath;  // the module holding the exception address; empty when none does
    std::wstring function;    // "Name+0xoffset", empty when the symbol handler found nothing
};

// What the verdict keeps of one process, from its creation to its exit.
struct ProcessOutcome {
    std::uint32_t processId = 0;
    std::wstring imagePath;
    std::uint32_t exitCode = 0;
    std::vector<DllInitRecord> inits;  // in the order the initialisations began
    std::vector<UnhandledException> unhandled;
    std::vector<ImportProblem> importProblems;
};

// The machine's settings that can explain a failed initialisation.
struct MachineSettings {
    std::wstring appInitDlls;               // the raw AppInit_DLLs value
    std::optional<int> smallDesktopHeapKb;  // set when the desktop heap warning applies
};

enum class FindingKind {
    DllInitFailed,
    DllInitException,
    DllInitUnfinished,
    DllNotFound,
    ImportNotFound,
    BadImageFormat,
    UnhandledException,
    ExitStatus,
    DesktopHeap,
    AppInitDll,
    // A DLL that refused its initialisation in a process that ran on and
    // ended normally (an AppInit DLL opting out, a plug-in): a note, no cause.
    DllInitNote,
};

struct Finding {
    Finding(FindingKind kindIn, std::uint32_t processIdIn, std::wstring moduleIn,
            std::optional<std::uint32_t> codeIn = std::nullopt)
        : kind(kindIn), processId(processIdIn), module(std::move(moduleIn)), code(codeIn) {}

    FindingKind kind;
    std::uint32_t processId;
    std::wstring module;  // a path (DllNotFound: the missing DLL's name as imported); empty when none
    std::optional<std::uint32_t> code;
    std::wstring importer;  // DllNotFound, ImportNotFound: the module whose import table names it
    std::wstring function;  // ImportNotFound: the missing name or "#ordinal"; UnhandledException: the function
    int desktopHeapKb = 0;  // DesktopHeap
    InitRefusal refusal;    // DllInitFailed: what the refusing thread showed
};

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
