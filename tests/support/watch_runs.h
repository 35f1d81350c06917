// Runs of the real debug loop, headless, and what they leave behind.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "verdict/findings.h"

// What a headless run left: the log's bytes and lines, and the trace's fields.
struct WatchRun {
    std::string logBytes;
    std::vector<std::wstring> lines;
    DWORD lastExitCode = 0;
    std::vector<std::wstring> modulePaths;
    std::vector<ProcessOutcome> processOutcomes;
    std::vector<Finding> verdict;
};

// zar.log beside the test program.
std::wstring WatchLogPath();
// Runs LaunchTrace(path, no views).RunDebugLoop() on a thread of its own, as a
// run's worker does, and reads the log once that thread has ended. Without
// watchInitialisations the run sets none of the initialisation watch's breakpoints.
WatchRun RunHeadless(const std::wstring& targetPath, bool watchInitialisations = true);

// Index of the first line at or after from that starts with prefix; lines.size() when none.
std::size_t FindLine(const std::vector<std::wstring>& lines, std::wstring_view prefix, std::size_t from = 0);
// Every line that starts with prefix.
std::vector<std::wstring> LinesStartingWith(const std::vector<std::wstring>& lines, std::wstring_view prefix);
