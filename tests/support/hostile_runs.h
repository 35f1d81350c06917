// Hostile runs: copies of the hostile target named after what they do, runs of
// the real debug loop that may not end (headless, or with the real main window
// while another thread keeps asking it for an answer), and the counts the
// target wrote about itself.
#pragma once
#include <windows.h>

#include <map>
#include <string>

#include "tests/support/watch_runs.h"

// hostile.exe copied beside the test program as hostile-<mode>-<argument>.exe;
// its full path.
std::wstring HostileCopy(const std::wstring& mode, const std::wstring& argument);
// The "key=value" lines a target wrote to <path><suffix>.counts; empty when missing.
std::map<std::string, long long> ReadCounts(const std::wstring& path, const std::wstring& suffix = L"");
// Deletes what an earlier run of the target left, so that counts are this run's.
void ForgetCounts(const std::wstring& path, const std::wstring& suffix = L"");

struct TimedRun {
    bool ended = false;  // false: the loop was still running when the time was up
    WatchRun run;
    double seconds = 0;
    SIZE_T peakWorkingSet = 0;       // of the test process, after the run
    DWORD slowestAnswerMs = 0;       // window runs: the longest wait for WM_NULL
    unsigned unansweredProbes = 0;   // window runs: probes not answered in time
    unsigned probes = 0;
};

// RunHeadless, but giving up after timeoutMs (the loop's thread is then left behind).
TimedRun RunHeadlessWithin(const std::wstring& targetPath, DWORD timeoutMs);
// The run on a worker thread with the views of the real main window, while this
// thread serves the window and a probe thread sends it WM_NULL with
// SendMessageTimeoutW, allowing answerTimeoutMs for each answer.
TimedRun RunWithWindowWithin(const std::wstring& targetPath, DWORD timeoutMs, DWORD answerTimeoutMs);
// Prints the figures of a run to the test output.
void PrintRunFigures(const char* name, const TimedRun& run);
// How many lines start with prefix.
std::size_t CountLines(const std::vector<std::wstring>& lines, std::wstring_view prefix);
