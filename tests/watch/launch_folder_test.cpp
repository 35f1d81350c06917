// The watched program starts as it would without Korvane: in the chosen file's
// folder whatever Korvane's current folder is, with the DLL search of a plain
// start.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

#include "base/system_library.h"
#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"

namespace {

constexpr DWORD kDllNotFound = 0xC0000135;

}  // namespace

TEST(LaunchFolder, AProgramLackingADllOfTheFolderChosenBeforeFailsAsInAPlainStart) {
    RestrictDllSearchToSystemFolder();  // as zar.exe does first thing
    const std::wstring lacking = FullPath(TargetPath(L"lacks_neighbour.exe"));
    const std::wstring loadsFromCurrent = FullPath(TargetPath(L"loads_from_current.exe"));
    // Korvane's current folder as Wine's file dialog leaves it after a choice in neighbour/.
    wchar_t korvaneFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, korvaneFolder);
    EXPECT_TRUE(SetCurrentDirectoryW(FullPath(TargetPath(L"neighbour")).c_str()));
    const WatchRun run = RunHeadless(lacking);
    SetCurrentDirectoryW(korvaneFolder);
    EXPECT_EQ(kDllNotFound, run.lastExitCode) << "neighbour.dll was found in Korvane's current folder";
    EXPECT_TRUE(std::any_of(run.verdict.begin(), run.verdict.end(), [](const Finding& finding) {
        return finding.kind == FindingKind::DllNotFound && finding.module == L"neighbour.dll";
    }));

    // A DLL in the program's own current folder is found, as without Korvane.
    EXPECT_EQ(0u, RunHeadless(loadsFromCurrent).lastExitCode);
}
