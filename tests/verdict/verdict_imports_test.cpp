// The verdict on starts the loader refuses: a missing DLL under the real
// debug loop, and, from the files built for them, a missing export and an
// image of another machine, and a delay-loaded DLL found nowhere (Wine may
// start such programs where Windows would not).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "modules/fold_path.h"
#include "modules/import_check.h"
#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"
#include "verdict/findings.h"
#include "verdict/verdict_text.h"

namespace {

std::wstring TargetFullPath(const std::wstring& fileName) {
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(TargetPath(fileName).c_str(), MAX_PATH, full, nullptr);
    return full;
}

std::wstring Folded(std::wstring path) {
    FoldPath(path);
    return path;
}

std::wstring LowerText(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// The findings for a process that ended with the loader's status, its imports
// checked on the files as they are.
std::vector<Finding> FindingsForRefusedStart(const std::wstring& image, std::uint32_t status) {
    ProcessOutcome process{0x40, image, status, {}, {}, {}};
    process.importProblems = FindImportProblems(image, ReadLoaderSearch(GetCurrentProcess(), image));
    return FindStartFailures({process}, {});
}

}  // namespace

TEST(VerdictImports, DllImportingOneFoundNowhereNamesTheMissingOneAndItsImporter) {
    const std::wstring target = TargetFullPath(L"imports_missing_dll.exe");
    WatchRun run = RunHeadless(target);
    EXPECT_EQ(0xC0000135u, run.lastExitCode);
    ASSERT_EQ(1u, run.verdict.size()) << "the missing DLL explains the exit status";
    const Finding& finding = run.verdict[0];
    EXPECT_EQ(FindingKind::DllNotFound, finding.kind);
    EXPECT_EQ(L"imports_absent.dll", LowerText(finding.module));
    EXPECT_EQ(Folded(TargetFullPath(L"imports_chain.dll")), finding.importer);
    std::size_t heading = FindLine(run.lines, L"Диагноз:");
    ASSERT_LT(heading + 1, run.lines.size());
    EXPECT_EQ(FindingLine(finding), run.lines[heading + 1]);
    EXPECT_NE(std::wstring::npos, run.lines[heading + 1].find(L"импортируемая модулем " + finding.importer + L" ("));
    EXPECT_EQ(L"dll_not_found;" + finding.module + L";" + finding.importer, FindingUploadEntry(finding, ";"));
}

TEST(VerdictImports, MissingExportWrongMachineAndMissingDelayLoadedDllAreNamedFromTheFiles) {
    const std::wstring lacking = TargetFullPath(L"imports_lacking.exe");
    std::vector<Finding> missing = FindingsForRefusedStart(lacking, 0xC0000139);
    std::vector<std::wstring> functions;
    for (const Finding& finding : missing) {
        EXPECT_EQ(FindingKind::ImportNotFound, finding.kind);
        EXPECT_EQ(LowerText(TargetFullPath(L"imports_lacking.dll")), LowerText(finding.module));
        EXPECT_EQ(LowerText(lacking), LowerText(finding.importer));
        functions.push_back(finding.function);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"#7", L"LackingGone"}), functions) << "in table order; no exit status";

    const std::wstring wrongMachine = TargetFullPath(L"imports_wrong_machine.exe");
    std::vector<Finding> foreign = FindingsForRefusedStart(wrongMachine, 0xC000007B);
    ASSERT_EQ(1u, foreign.size());
    EXPECT_EQ(FindingKind::BadImageFormat, foreign[0].kind);
    EXPECT_EQ(LowerText(TargetFullPath(L"imports_machine.dll")), LowerText(foreign[0].module));
    EXPECT_EQ(L"Модуль " + foreign[0].module + L" собран для другой платформы, чем процесс (процесс 0x40, код 0xC000007B)",
              FindingLine(foreign[0]));

    const std::wstring delayLoads = TargetFullPath(L"imports_delay_missing.exe");
    std::vector<Finding> delayed = FindingsForRefusedStart(delayLoads, 0xC0000135);
    ASSERT_EQ(1u, delayed.size());
    EXPECT_TRUE(delayed[0].delayLoad);
    EXPECT_EQ(L"Не найдена библиотека imports_delay_absent.dll, импортируемая модулем " + delayed[0].importer +
                  L" с отложенной загрузкой (процесс 0x40, код 0xC0000135)",
              FindingLine(delayed[0]));
}
