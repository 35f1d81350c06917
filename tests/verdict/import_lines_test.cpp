// One finding per cause, each line distinct: a 32-bit libwinpthread-1.dll
// shipped beside a 64-bit program, imported by both libstdc++-6.dll and
// libgcc_s_seh-1.dll, under the real debug loop.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"
#include "verdict/findings.h"
#include "verdict/verdict_text.h"

namespace {

std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

}  // namespace

TEST(VerdictImportLines, AForeignDllImportedByTwoModulesIsOneLineNamingEachImporter) {
    wchar_t program[MAX_PATH] = {};
    GetFullPathNameW(TargetPath(L"foreign_runtime\\foreign_runtime.exe").c_str(), MAX_PATH, program, nullptr);
    const WatchRun run = RunHeadless(program);

    std::set<std::wstring> importers;
    std::set<std::wstring> lines;
    std::set<std::wstring> entries;
    for (const Finding& finding : run.verdict) {
        if (finding.kind != FindingKind::BadImageFormat) continue;
        EXPECT_EQ(L"libwinpthread-1.dll", FileNameOf(finding.module));
        importers.insert(FileNameOf(finding.importer));
        const std::wstring line = FindingLine(finding);
        EXPECT_NE(std::wstring::npos, line.find(L"Модуль " + finding.module +
                                               L" собран для другой платформы, чем процесс, импортируется модулем " +
                                               finding.importer + L" ("))
            << line;
        lines.insert(line);
        entries.insert(FindingUploadEntry(finding, ";"));
    }
    EXPECT_EQ((std::set<std::wstring>{L"libgcc_s_seh-1.dll", L"libstdc++-6.dll"}), importers);
    EXPECT_EQ(2u, lines.size()) << "one line per importer, none repeated";
    EXPECT_EQ(2u, entries.size());
}
