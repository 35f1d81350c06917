// Headless runs of the debug loop for the tests.
#include "tests/support/watch_runs.h"

#include <thread>

#include "tests/support/test_files.h"
#include "watch/launch_trace.h"

std::wstring WatchLogPath() {
    return TestProgramFolder() + L"zar.log";
}

WatchRun RunHeadless(const std::wstring& targetPath, bool watchInitialisations) {
    WatchRun run;
    std::thread worker([&] {
        LaunchTrace trace(targetPath, nullptr, nullptr);
        trace.watchInitialisations = watchInitialisations;
        trace.RunDebugLoop();
        run.lastExitCode = trace.lastExitCode;
        run.modulePaths = trace.modulePaths;
        run.processOutcomes = trace.processOutcomes;
        run.verdict = trace.verdict;
    });
    worker.join();
    run.logBytes = ReadFileBytes(WatchLogPath());
    run.lines = ReadLogLines(WatchLogPath());
    return run;
}

std::size_t FindLine(const std::vector<std::wstring>& lines, std::wstring_view prefix, std::size_t from) {
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (std::wstring_view(lines[i]).starts_with(prefix)) return i;
    }
    return lines.size();
}

std::vector<std::wstring> LinesStartingWith(const std::vector<std::wstring>& lines, std::wstring_view prefix) {
    std::vector<std::wstring> found;
    for (const std::wstring& line : lines) {
        if (std::wstring_view(line).starts_with(prefix)) found.push_back(line);
    }
    return found;
}
