// The verdict section: written after the loaded-modules section, so that every
// line before it keeps its place, and shown as one more item of the tree view.
#include "diag/registry_checks.h"
#include "modules/fold_path.h"
#include "verdict/advice.h"
#include "verdict/findings.h"
#include "verdict/verdict_text.h"
#include "watch/launch_trace.h"

namespace {

constexpr wchar_t kHeading[] = L"Диагноз:";
constexpr wchar_t kTreeHeading[] = L"Диагноз: ";
constexpr wchar_t kNoFindings[] = L"Ошибок запуска не обнаружено";
// No thread has id 0: the verdict's item stands apart from every thread's.
constexpr DWORD kVerdictTreeThread = 0;

}  // namespace

void LaunchTrace::WriteVerdict() {
    MachineSettings machine{ReadAppInitDlls(), SmallDesktopHeapKb(ReadSubSystemsWindows())};
    verdict = FindStartFailures(processOutcomes, machine);
    for (Finding& finding : verdict) {
        FoldPath(finding.module);
        FoldPath(finding.importer);
    }
    WriteLogLine(L"");
    WriteLogLine(kHeading);
    // Notes on DLLs of processes that ran on never head the answer.
    bool failed = !verdict.empty() && verdict.front().kind != FindingKind::DllInitNote;
    if (!failed) WriteLogLine(kNoFindings);
    AddEventItem(kVerdictTreeThread, kTreeHeading + (failed ? FindingLine(verdict.front()) : kNoFindings));
    for (const Finding& finding : verdict) {
        std::wstring line = FindingLine(finding);
        WriteLogLine(line);
        AddEventItem(kVerdictTreeThread, line);
        // What the user can do about it follows its finding; the upload carries findings only.
        std::wstring advice = AdviceLine(finding);
        if (advice.empty()) continue;
        WriteLogLine(advice);
        AddEventItem(kVerdictTreeThread, advice);
    }
    // The run's answer is seen without scrolling to it.
    RevealEventItem(kVerdictTreeThread);
}
