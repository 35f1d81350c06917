// The active-processes block: every running process with its command line,
// working set and file description, the total working set, and the image files
// recorded once each for the upload.
#include "diag/process_inventory.h"

#include <psapi.h>

#include <algorithm>
#include <cwchar>

#include "base/format_bounded.h"
#include "diag/privilege.h"
#include "diag/process_parameters.h"
#include "modules/file_facts.h"
#include "watch/debuggee.h"
#include "watch/launch_trace.h"

namespace {

constexpr std::size_t kLineChars = 2000;
constexpr std::size_t kTotalChars = 1000;
constexpr DWORD kReadAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kAllAccess = 0x1FFFFF;
// The longest command line the block shows: 500 characters, given in bytes.
constexpr std::size_t kLongestCommandLineBytes = 1000;

static_assert(sizeof(PROCESSENTRY32W) == 568, "Tool Help records on x64");
static_assert(sizeof(PROCESS_MEMORY_COUNTERS) == 72, "memory counters on x64");

// The debug privilege on for the life of the object, off on every way out.
class DebugPrivilegeWindow {
public:
    DebugPrivilegeWindow() { SetDebugPrivilege(PrivilegeSwitch::On); }
    ~DebugPrivilegeWindow() { SetDebugPrivilege(PrivilegeSwitch::Off); }
    DebugPrivilegeWindow(const DebugPrivilegeWindow&) = delete;
    DebugPrivilegeWindow& operator=(const DebugPrivilegeWindow&) = delete;
};

// Copies `chars` characters from the other process; the buffer is left all zero
// when the read fails, so that no part of a failed copy is taken for text.
bool CopyRemoteText(HANDLE process, ULONG_PTR address, std::size_t chars, ProcessText& buffer) {
    if (chars == 0 || ReadWhole(process, address, buffer.data(), chars * sizeof(wchar_t))) return true;
    buffer.fill(L'\0');
    return false;
}

PROCESS_MEMORY_COUNTERS ReadMemoryCounters(DWORD processId) {
    PROCESS_MEMORY_COUNTERS counters = {};
    UniqueHandle process(OpenProcess(kAllAccess, FALSE, processId));
    if (process && !GetProcessMemoryInfo(process.get(), &counters, sizeof(counters))) counters = {};
    return counters;
}

}  // namespace

ProcessSnapshot::ProcessSnapshot(DWORD flags, DWORD processId) {
    SetDebugPrivilege(PrivilegeSwitch::On);
    snapshot_.reset(CreateToolhelp32Snapshot(flags, processId));
}

ProcessSnapshot::~ProcessSnapshot() {
    SetDebugPrivilege(PrivilegeSwitch::Off);
}

void ProcessSnapshot::CollectProcesses() {
    records_.clear();
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    // Id 0 is the idle process of Windows, not a process one could look into.
    auto nextNonIdle = [&](BOOL found) {
        while (found && entry.th32ProcessID == 0) found = Process32NextW(snapshot_.get(), &entry);
        return found;
    };
    // No module snapshot per process: nothing in the report reads one, and
    // under Wine each costs about 15 ms of the run's end.
    for (BOOL found = nextNonIdle(Process32FirstW(snapshot_.get(), &entry)); found;) {
        records_.push_back({entry});
        found = nextNonIdle(Process32NextW(snapshot_.get(), &entry));
    }
}

bool ReadProcessStrings(DWORD processId, ProcessText& imagePath, ProcessText& commandLine) {
    DebugPrivilegeWindow privilege;
    UniqueHandle process(OpenProcess(kReadAccess, FALSE, processId));
    ProcessParameters parameters;
    if (!process || !ReadProcessParameters(process.get(), parameters)) return false;

    // Lengths are in bytes and the texts carry no zero of their own: the
    // zero-filled buffers terminate them.
    const RemoteText commandLineText = CountedString(parameters, kParametersCommandLine);
    if (commandLineText.claimedBytes > kLongestCommandLineBytes) return false;
    if (!CopyRemoteText(process.get(), commandLineText.address, commandLineText.bytes / sizeof(wchar_t), commandLine)) {
        return false;
    }
    // A path too long for its buffer is cut to fit, leaving room for the zero.
    const RemoteText imagePathText = CountedString(parameters, kParametersImagePath);
    const std::size_t imagePathChars = std::min<std::size_t>(imagePathText.bytes / sizeof(wchar_t), imagePath.size() - 1);
    CopyRemoteText(process.get(), imagePathText.address, imagePathChars, imagePath);
    return true;
}

std::vector<std::wstring> RunningImagePathsNow() {
    std::vector<std::wstring> paths;
    UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL found = snapshot && Process32FirstW(snapshot.get(), &entry); found;
         found = Process32NextW(snapshot.get(), &entry)) {
        UniqueHandle process(entry.th32ProcessID ? OpenProcess(kReadAccess, FALSE, entry.th32ProcessID) : nullptr);
        ProcessParameters parameters;
        if (!process || !ReadProcessParameters(process.get(), parameters)) continue;
        std::wstring path = ReadCountedString(process.get(), parameters, kParametersImagePath, kProcessTextChars - 1);
        path.resize(std::wcslen(path.c_str()));  // where the block's zero-filled buffer ends it
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

std::wstring FormatProcessHeading(std::size_t processCount) {
    return FormatToString(kLineChars, L"\n\nАктивные процессы (%d):", static_cast<int>(processCount));
}

std::wstring FormatProcessLine(std::wstring_view commandLine, unsigned long long workingSetBytes,
                               std::wstring_view description) {
    return FormatToString(kLineChars, L"%s - [%ldK] - %s", commandLine, static_cast<long>(workingSetBytes / 1024),
                          description);
}

std::wstring FormatWorkingSetTotal(unsigned long long totalBytes) {
    return FormatToString(kTotalChars, L"----------------------------\nTotal Working Set: %ldMb",
                          static_cast<long>(totalBytes / 1048576));
}

void LaunchTrace::WriteProcessInventory() {
    ProcessSnapshot processes(TH32CS_SNAPPROCESS, 0);
    processes.CollectProcesses();
    WriteLogLine(FormatProcessHeading(processes.Records().size()));
    WriteLogLine(L"-----------------------");
    unsigned long long totalWorkingSet = 0;
    for (const ProcessRecord& record : processes.Records()) {
        const DWORD processId = record.entry.th32ProcessID;
        ProcessText imagePath = {};
        ProcessText commandLine = {};
        ReadProcessStrings(processId, imagePath, commandLine);
        if (commandLine[0] == L'\0') continue;
        // The same file as a module of the run is not read twice.
        const FileFacts& facts = moduleFacts.FinalFacts(imagePath.data());
        SetDebugPrivilege(PrivilegeSwitch::On);
        const PROCESS_MEMORY_COUNTERS counters = ReadMemoryCounters(processId);
        WriteLogLine(FormatProcessLine(commandLine.data(), counters.WorkingSetSize, facts.DescriptionText()));
        totalWorkingSet += counters.WorkingSetSize;
        if (std::find(runningImagePaths.begin(), runningImagePaths.end(), imagePath.data()) ==
            runningImagePaths.end()) {
            runningImagePaths.emplace_back(imagePath.data());
            runningImageFacts.push_back(facts);
        }
    }
    WriteLogLine(FormatWorkingSetTotal(totalWorkingSet));
}

void LaunchTrace::ReadRunningImagesAhead() {
    moduleFacts.ReadAhead(RunningImagePathsNow);
}
