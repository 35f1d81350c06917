// The processes running at the end of a run: Tool Help snapshots, the strings
// of each process's parameters, and the texts of the active-processes block.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/handles.h"

inline constexpr std::size_t kProcessTextChars = 1000;
using ProcessText = std::array<wchar_t, kProcessTextChars>;

// One process of a snapshot.
struct ProcessRecord {
    PROCESSENTRY32W entry{};
};

// A Tool Help snapshot; the debug privilege is on from its making until it is dropped.
class ProcessSnapshot {
public:
    ProcessSnapshot(DWORD flags, DWORD processId);
    ~ProcessSnapshot();
    ProcessSnapshot(const ProcessSnapshot&) = delete;
    ProcessSnapshot& operator=(const ProcessSnapshot&) = delete;

    // Every process of the snapshot but id 0, in snapshot order.
    void CollectProcesses();
    const std::vector<ProcessRecord>& Records() const { return records_; }

private:
    UniqueSnapshot snapshot_;
    std::vector<ProcessRecord> records_;
};

// Copies the image path and the command line out of the process's parameters
// into the zero-filled buffers. Fails when the parameters cannot be read or the
// command line is longer than 500 characters; an image path that does not fit is
// cut. Nothing is ever written past a buffer, and a buffer whose copy failed stays
// empty.
bool ReadProcessStrings(DWORD processId, ProcessText& imagePath, ProcessText& commandLine);

// The image paths of the processes running now, as the block reads them,
// for reading their files ahead during a run. It switches no privilege (the
// run holds it, and this may run beside the debug loop) and shows nothing.
std::vector<std::wstring> RunningImagePathsNow();

// The texts of the block.
std::wstring FormatProcessHeading(std::size_t processCount);
std::wstring FormatProcessLine(std::wstring_view commandLine, unsigned long long workingSetBytes,
                               std::wstring_view description);
std::wstring FormatWorkingSetTotal(unsigned long long totalBytes);
