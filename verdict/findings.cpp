// The rules of the verdict: which observations of a process name a cause of its
// failed start, and in which order they are told.
#include "verdict/findings.h"

#include <algorithm>
#include <set>
#include <string_view>

#include "verdict/status_text.h"

namespace {

constexpr std::uint32_t kDllNotFound = 0xC0000135;
constexpr std::uint32_t kEntryPointNotFound = 0xC0000139;
constexpr std::uint32_t kOrdinalNotFound = 0xC0000138;
constexpr std::uint32_t kInvalidImageFormat = 0xC000007B;
constexpr std::uint32_t kDllInitFailed = 0xC0000142;
constexpr std::uint32_t kFirstErrorStatus = 0xC0000000;

// Lower case as file names compare: Latin and Cyrillic capitals fold (the
// names the verdict compares are DLL names: AppInit_DLLs entries and user32).
wchar_t LowerLetter(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + (L'a' - L'A'));
    if (c >= 0x0410 && c <= 0x042F) return static_cast<wchar_t>(c + 0x20);  // А..Я
    if (c >= 0x0400 && c <= 0x040F) return static_cast<wchar_t>(c + 0x50);  // Ѐ..Џ
    return c;
}

std::wstring LowerFileName(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    for (wchar_t& c : name) c = LowerLetter(c);
    return name;
}

// The entries of an AppInit_DLLs value (blanks or commas between them).
std::vector<std::wstring> AppInitDllNames(const std::wstring& value) {
    std::vector<std::wstring> names;
    std::size_t at = 0;
    while ((at = value.find_first_not_of(L" ,\t", at)) != std::wstring::npos) {
        std::size_t end = value.find_first_of(L" ,\t", at);
        names.push_back(value.substr(at, end - at));  // to the end when no separator follows
        at = end;
    }
    return names;
}

bool IsAppInitDll(const std::wstring& path, const std::vector<std::wstring>& appInitNames) {
    std::wstring name = LowerFileName(path);
    return std::any_of(appInitNames.begin(), appInitNames.end(), [&](const std::wstring& entry) {
        std::wstring entryName = LowerFileName(entry);
        // An entry may leave out the extension, as LoadLibrary allows.
        if (entryName.find(L'.') == std::wstring::npos) entryName += L".dll";
        return entryName == name;
    });
}

// An exit code that says the start failed: an NTSTATUS error, or the code of
// a .NET host that could not find or start its runtime.
bool IsErrorExit(std::uint32_t exitCode) {
    return exitCode >= kFirstErrorStatus || IsDotNetHostStatus(exitCode);
}

// A process that ran on and ended on its own terms: no unhandled exception,
// no error status.
bool RanOn(const ProcessOutcome& process) {
    return process.unhandled.empty() && !IsErrorExit(process.exitCode);
}

// The finding a DLL's initialisation gives, if any. An exception raised inside
// it counts only when it mattered: the initialisation did not return, or the
// exception went unhandled; an exception the DLL handled itself is no cause,
// whatever ends the process later. In a process that ran on, a refused
// initialisation is a note.
std::optional<Finding> InitFinding(const ProcessOutcome& process, const DllInitRecord& init) {
    Finding finding{FindingKind::DllInitFailed, process.processId, init.path};
    bool didNotReturn = init.result == InitResult::Unfinished || init.result == InitResult::Unwound;
    if (init.exceptionCode && (didNotReturn || init.result == InitResult::Failed || init.exceptionUnhandled)) {
        finding.kind = FindingKind::DllInitException;
        finding.code = init.exceptionCode;
    } else if (init.result == InitResult::Failed) {
        finding.code = kDllInitFailed;
        finding.refusal = init.refusal;
    } else if (init.result == InitResult::Unfinished) {
        finding.kind = FindingKind::DllInitUnfinished;
        finding.code = process.exitCode;
    } else {
        return std::nullopt;
    }
    if (RanOn(process) && finding.kind != FindingKind::DllInitUnfinished) {
        finding.kind = FindingKind::DllInitNote;
        finding.code = init.exceptionCode;
        finding.refusal = {};  // a note tells that it refused, not why
    }
    return finding;
}

Finding ImportFinding(const ProcessOutcome& process, const ImportProblem& problem) {
    FindingKind kind = problem.kind == ImportProblemKind::DllNotFound      ? FindingKind::DllNotFound
                       : problem.kind == ImportProblemKind::ImportNotFound ? FindingKind::ImportNotFound
                                                                           : FindingKind::BadImageFormat;
    Finding finding{kind, process.processId, problem.module, process.exitCode};
    finding.importer = problem.importer;
    finding.function = problem.function;
    return finding;
}

void AddProcessFindings(const ProcessOutcome& process, const MachineSettings& machine,
                        const std::vector<std::wstring>& appInitNames, std::vector<Finding>& findings,
                        std::vector<Finding>& notes) {
    std::set<std::uint32_t> explained;
    for (const DllInitRecord& init : process.inits) {
        std::optional<Finding> failure = InitFinding(process, init);
        if (!failure) continue;
        if (failure->kind == FindingKind::DllInitNote) {
            notes.push_back(*failure);
            continue;
        }
        bool appInit = IsAppInitDll(init.path, appInitNames);
        if (machine.smallDesktopHeapKb && (appInit || LowerFileName(init.path) == L"user32.dll")) {
            Finding heap{FindingKind::DesktopHeap, process.processId, init.path, failure->code};
            heap.desktopHeapKb = *machine.smallDesktopHeapKb;
            findings.push_back(heap);
        }
        findings.push_back(*failure);
        if (appInit) findings.push_back({FindingKind::AppInitDll, process.processId, init.path, failure->code});
        // A start that an initialisation broke is what the loader reports as 0xC0000142.
        explained.insert(failure->code.value_or(0));
        explained.insert(kDllInitFailed);
    }
    for (const ImportProblem& problem : process.importProblems) {
        findings.push_back(ImportFinding(process, problem));
        explained.insert(process.exitCode);
    }
    for (const UnhandledException& exception : process.unhandled) {
        Finding finding{FindingKind::UnhandledException, process.processId, exception.modulePath, exception.code};
        finding.function = exception.function;
        findings.push_back(finding);
        explained.insert(exception.code);
    }
    if (IsErrorExit(process.exitCode) && !explained.count(process.exitCode))
        findings.push_back({FindingKind::ExitStatus, process.processId, process.imagePath, process.exitCode});
}

}  // namespace

bool IsImportFailureStatus(std::uint32_t exitCode) {
    return exitCode == kDllNotFound || exitCode == kEntryPointNotFound || exitCode == kOrdinalNotFound ||
           exitCode == kInvalidImageFormat;
}

std::vector<Finding> FindStartFailures(const std::vector<ProcessOutcome>& processes, const MachineSettings& machine) {
    std::vector<std::wstring> appInitNames = AppInitDllNames(machine.appInitDlls);
    std::vector<Finding> findings;
    std::vector<Finding> notes;
    for (const ProcessOutcome& process : processes) {
        std::size_t first = findings.size();
        std::size_t firstNote = notes.size();
        AddProcessFindings(process, machine, appInitNames, findings, notes);
        // The advice names the architecture of the process a finding is about.
        for (std::size_t i = first; i < findings.size(); ++i) findings[i].machine = process.machine;
        for (std::size_t i = firstNote; i < notes.size(); ++i) notes[i].machine = process.machine;
    }
    findings.insert(findings.end(), notes.begin(), notes.end());
    return findings;
}

bool ExplainsFailure(const Finding& finding) {
    return finding.kind != FindingKind::DllInitNote && finding.kind != FindingKind::DesktopHeap &&
           finding.kind != FindingKind::AppInitDll;
}

std::optional<std::uint32_t> FailedExitCode(const std::vector<Finding>& findings,
                                            const std::vector<ProcessOutcome>& processes) {
    auto cause = std::find_if(findings.begin(), findings.end(), ExplainsFailure);
    if (cause == findings.end()) return std::nullopt;
    auto process = std::find_if(processes.begin(), processes.end(),
                                [&](const ProcessOutcome& outcome) { return outcome.processId == cause->processId; });
    if (process == processes.end()) return std::nullopt;
    return process->exitCode;
}
