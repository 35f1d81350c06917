// The active-processes block: every running process with its command line,
// working set and file description, the total working set, and the image files
// recorded once each for the upload.
#include "diag/process_inventory.h"

#include <psapi.h>

#include <algorithm>
#include <cstring>

#include "base/format_bounded.h"
#include "diag/privilege.h"
#include "modules/file_facts.h"
#include "watch/launch_trace.h"

namespace {

constexpr std::size_t kLineChars = 2000;
constexpr std::size_t kTotalChars = 1000;
constexpr DWORD kReadAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kAllAccess = 0x1FFFFF;
constexpr ULONG kProcessBasicInformation = 0;
// The longest command line the block shows: 500 characters, given in bytes.
constexpr USHORT kLongestCommandLineBytes = 1000;

// The 64-bit layouts read out of another process.
constexpr std::size_t kPebBytes = 712;
constexpr std::size_t kPebProcessParameters = 0x20;
constexpr std::size_t kParametersBytes = 128;
constexpr std::size_t kParametersFlags = 0x08;
constexpr std::size_t kImagePathLength = 0x60;  // then MaximumLength (16 bits), the buffer at +8
constexpr std::size_t kImagePathBuffer = 0x68;
constexpr std::size_t kCommandLineLength = 0x70;
constexpr std::size_t kCommandLineBuffer = 0x78;
constexpr std::size_t kMaximumLengthAfterLength = 2;
constexpr ULONG kParametersNormalized = 1;

struct BasicInformation {
    LONG exitStatus;
    void* pebBaseAddress;
    ULONG_PTR affinityMask;
    LONG basePriority;
    ULONG_PTR uniqueProcessId;
    ULONG_PTR inheritedFromUniqueProcessId;
};
static_assert(sizeof(BasicInformation) == 48, "PROCESS_BASIC_INFORMATION on x64");
static_assert(sizeof(PROCESSENTRY32W) == 568 && sizeof(MODULEENTRY32W) == 1080, "Tool Help records on x64");
static_assert(sizeof(PROCESS_MEMORY_COUNTERS) == 72, "memory counters on x64");

using NtQueryInformationProcessFn = LONG NTAPI(HANDLE, ULONG, void*, ULONG, ULONG*);

// The debug privilege on for the life of the object, off on every way out.
class DebugPrivilegeWindow {
public:
    DebugPrivilegeWindow() { SetDebugPrivilege(PrivilegeSwitch::On); }
    ~DebugPrivilegeWindow() { SetDebugPrivilege(PrivilegeSwitch::Off); }
    DebugPrivilegeWindow(const DebugPrivilegeWindow&) = delete;
    DebugPrivilegeWindow& operator=(const DebugPrivilegeWindow&) = delete;
};

template <class T>
T FieldAt(const unsigned char* block, std::size_t offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof(T));
    return value;
}

// Looked up on every call, as ntdll might lack it.
NtQueryInformationProcessFn* FindNtQueryInformationProcess() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return nullptr;
    return reinterpret_cast<NtQueryInformationProcessFn*>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationProcess")));
}

// Copies `chars` characters from the other process; the buffer is left all zero
// when the read fails, so that no part of a failed copy is taken for text.
bool CopyRemoteText(HANDLE process, ULONG_PTR address, std::size_t chars, ProcessText& buffer) {
    if (chars == 0) return true;
    SIZE_T read = 0;
    if (ReadProcessMemory(process, reinterpret_cast<const void*>(address), buffer.data(), chars * sizeof(wchar_t),
                          &read)) {
        return true;
    }
    buffer.fill(L'\0');
    return false;
}

bool ReadRemoteBlock(HANDLE process, ULONG_PTR address, unsigned char* block, std::size_t bytes) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, reinterpret_cast<const void*>(address), block, bytes, &read) != FALSE;
}

// The bytes of a counted string that lie within its buffer: a process may claim
// a Length beyond MaximumLength, and what follows the buffer is not its text.
std::size_t BytesWithinBuffer(const unsigned char* parameters, std::size_t lengthField) {
    return std::min(FieldAt<USHORT>(parameters, lengthField),
                    FieldAt<USHORT>(parameters, lengthField + kMaximumLengthAfterLength));
}

// The address of a counted string's text; a block that is not yet normalised
// holds offsets from its own start instead of addresses.
ULONG_PTR TextAddress(const unsigned char* parameters, ULONG_PTR parametersAddress, std::size_t bufferField) {
    ULONG_PTR buffer = FieldAt<ULONG_PTR>(parameters, bufferField);
    if (FieldAt<ULONG>(parameters, kParametersFlags) & kParametersNormalized) return buffer;
    return buffer ? parametersAddress + buffer : 0;
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

void ProcessSnapshot::AppendModules(std::vector<MODULEENTRY32W>& modules) const {
    MODULEENTRY32W module = {};
    module.dwSize = sizeof(module);
    for (BOOL found = Module32FirstW(snapshot_.get(), &module); found; found = Module32NextW(snapshot_.get(), &module)) {
        modules.push_back(module);
    }
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
    for (BOOL found = nextNonIdle(Process32FirstW(snapshot_.get(), &entry)); found;) {
        ProcessSnapshot modules(TH32CS_SNAPMODULE, entry.th32ProcessID);
        ProcessRecord record;
        record.entry = entry;
        modules.AppendModules(record.modules);
        records_.push_back(std::move(record));
        found = nextNonIdle(Process32NextW(snapshot_.get(), &entry));
    }
}

bool ReadProcessStrings(DWORD processId, ProcessText& imagePath, ProcessText& commandLine) {
    DebugPrivilegeWindow privilege;
    NtQueryInformationProcessFn* queryInformation = FindNtQueryInformationProcess();
    if (!queryInformation) return false;
    UniqueHandle process(OpenProcess(kReadAccess, FALSE, processId));
    if (!process) return false;

    BasicInformation basic = {};
    if (queryInformation(process.get(), kProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0) return false;
    unsigned char peb[kPebBytes] = {};
    if (!ReadRemoteBlock(process.get(), reinterpret_cast<ULONG_PTR>(basic.pebBaseAddress), peb, sizeof(peb))) {
        return false;
    }
    // Read afresh every time: the block moves while a process starts.
    const ULONG_PTR parametersAddress = FieldAt<ULONG_PTR>(peb, kPebProcessParameters);
    unsigned char parameters[kParametersBytes] = {};
    if (!ReadRemoteBlock(process.get(), parametersAddress, parameters, sizeof(parameters))) return false;

    // Lengths are in bytes and the texts carry no zero of their own: the
    // zero-filled buffers terminate them.
    const USHORT commandLineBytes = FieldAt<USHORT>(parameters, kCommandLineLength);
    if (commandLineBytes > kLongestCommandLineBytes) return false;
    if (!CopyRemoteText(process.get(), TextAddress(parameters, parametersAddress, kCommandLineBuffer),
                        BytesWithinBuffer(parameters, kCommandLineLength) / sizeof(wchar_t), commandLine)) {
        return false;
    }
    // A path too long for its buffer is cut to fit, leaving room for the zero.
    const std::size_t imagePathChars =
        std::min<std::size_t>(BytesWithinBuffer(parameters, kImagePathLength) / sizeof(wchar_t), imagePath.size() - 1);
    CopyRemoteText(process.get(), TextAddress(parameters, parametersAddress, kImagePathBuffer), imagePathChars,
                   imagePath);
    return true;
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
