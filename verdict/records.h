// The plain records the verdict is drawn from: what the run saw of each
// process, and the findings named from it. No Windows types, so that the
// verdict's rules and texts build and are tested on any host.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

enum class ImportProblemKind { DllNotFound, ImportNotFound, BadImageFormat };

struct ImportProblem {
    ImportProblemKind kind;
    // DllNotFound: the missing DLL's name as imported. ImportNotFound: the path
    // of the DLL that lacks the export. BadImageFormat: the path of the image.
    std::wstring module;
    // The path of the module whose import table names it (empty for the
    // process's own image when that image itself is of the wrong machine).
    std::wstring importer;
    // ImportNotFound: the missing function's name, or "#" and its ordinal.
    std::wstring function;
};

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
    // IMAGE_FILE_MACHINE_* of the process (0x14C x86, 0x8664 x64); 0 when unknown.
    std::uint16_t machine = 0;
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
    std::uint16_t machine = 0;  // of the process the finding is about, as ProcessOutcome has it
    InitRefusal refusal;        // DllInitFailed: what the refusing thread showed
};

