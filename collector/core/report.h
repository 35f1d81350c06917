// One report as the collector keeps it: the pieces of the form that zar.exe
// posts, decoded from Windows-1251 to UTF-8. Plain data, shared by ingest,
// storage, analysis and web.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace collector {

// One entry of "process=", "&files=" or "&modules=": the eight facts of a file
// as zar.exe writes them, in its order (folder as written, folded or not).
struct FileEntry {
    std::string name;
    std::string folder;
    std::string size;            // decimal bytes as sent; may be empty
    std::string productVersion;
    std::string created;         // dd.mm.yyyy as sent; may be empty
    std::string modified;
    std::string description;
    std::string company;
};

// One entry of "&verdict=": kind;module;detail.
struct Finding {
    std::string kind;
    std::string module;
    std::string detail;
};

struct Report {
    std::int64_t id = 0;          // 0 until stored
    std::int64_t receivedAt = 0;  // seconds since 1970 (UTC), set at ingest
    FileEntry process;
    std::uint32_t exitCode = 0;   // the last process's, as "&exitcode=" gives it
    // "&failexitcode=": the exit code of the process that the first finding
    // explaining the failure names; absent from older clients and from runs
    // without such a finding.
    std::optional<std::uint32_t> failExitCode;
    std::string os;               // "6.1.7601"
    std::vector<FileEntry> files;     // images of the running processes
    std::vector<FileEntry> modules;   // every module the run saw
    std::vector<Finding> verdict;     // empty when the body had no "&verdict=" or no findings
    std::int64_t groupId = 0;         // read back from the store: its failure group, 0 for a success
};

// The failure signature of a run that failed to start; runs that started
// (whatever their exit code) belong to no group.
struct GroupKey {
    std::string program;         // process.name
    std::string programVersion;  // process.productVersion
    std::uint32_t exitCode = 0;  // FailureExitCode
    std::string findingKind;     // the first explaining finding's kind, or empty
    std::string findingModule;   // its module, or empty
    bool operator==(const GroupKey&) const = default;
    auto operator<=>(const GroupKey&) const = default;
};

// Whether a finding of this kind explains a failure. Notes (a DLL that
// refused its initialisation in a process that ran on, an AppInit_DLLs entry,
// the desktop heap) only accompany a cause.
bool ExplainsFailure(std::string_view kind);
// The first finding that explains a failure, or null.
const Finding* ExplainingFinding(const Report& report);
// The exit code that judges the run: failExitCode when the client sent one,
// otherwise the last process's.
std::uint32_t FailureExitCode(const Report& report);
// A run failed to start when a finding explains it or its exit code is an
// NTSTATUS error (0xC0000000 and up); any other exit code is the program's
// own business, and the run counts as started.
bool IsSuccess(const Report& report);
GroupKey SignatureOf(const Report& report);

}  // namespace collector
