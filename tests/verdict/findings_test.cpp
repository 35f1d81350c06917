// The verdict's rules over plain records: which observations name a cause,
// in which order, and how each finding is written in the log and the upload.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "verdict/findings.h"
#include "verdict/verdict_text.h"

namespace {

constexpr std::uint32_t kAccessViolation = 0xC0000005;
constexpr std::uint32_t kDllInitFailed = 0xC0000142;
const std::wstring kUser32 = L"C:\\windows\\system32\\USER32.dll";
const std::wstring kHook = L"C:\\tools\\hook.dll";

struct Expected {
    FindingKind kind;
    std::wstring module;
    std::optional<std::uint32_t> code;
};

void ExpectFindings(const std::vector<Finding>& found, const std::vector<Expected>& expected) {
    ASSERT_EQ(expected.size(), found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(FindingKindName(expected[i].kind), FindingKindName(found[i].kind)) << "finding " << i;
        EXPECT_EQ(expected[i].module, found[i].module) << "finding " << i;
        EXPECT_EQ(expected[i].code, found[i].code) << "finding " << i;
    }
}

ProcessOutcome Outcome(std::uint32_t exitCode, std::vector<DllInitRecord> inits,
                       std::vector<UnhandledException> unhandled = {}, std::vector<ImportProblem> problems = {},
                       std::uint32_t processId = 7) {
    return {processId, L"C:\\app\\app.exe", exitCode, std::move(inits), std::move(unhandled), std::move(problems)};
}

DllInitRecord Init(std::wstring path, InitResult result, std::optional<std::uint32_t> exception = {}) {
    return DllInitRecord{std::move(path), result, exception, false};
}

}  // namespace

TEST(StartFailures, CauseComesBeforeWhatItExplainsAndAnExplainedExitIsNotRepeated) {
    const MachineSettings smallHeap{L"other.dll, C:\\tools\\HOOK", 128};
    struct Case {
        const char* name;
        ProcessOutcome process;
        MachineSettings machine;
        std::vector<Expected> expected;
    };
    const std::vector<Case> cases = {
        {"user32 failing on a small desktop heap",
         Outcome(kDllInitFailed, {Init(L"kernel32.dll", InitResult::Succeeded), Init(kUser32, InitResult::Failed)}),
         smallHeap,
         {{FindingKind::DesktopHeap, kUser32, kDllInitFailed}, {FindingKind::DllInitFailed, kUser32, kDllInitFailed}}},
        {"user32 failing on a large desktop heap",
         Outcome(kDllInitFailed, {Init(kUser32, InitResult::Failed)}),
         {L"", std::nullopt},
         {{FindingKind::DllInitFailed, kUser32, kDllInitFailed}}},
        {"an AppInit_DLLs entry still initialising when the process ended",
         Outcome(kAccessViolation, {Init(kHook, InitResult::Unfinished)}),
         smallHeap,
         {{FindingKind::DesktopHeap, kHook, kAccessViolation},
          {FindingKind::DllInitUnfinished, kHook, kAccessViolation},
          {FindingKind::AppInitDll, kHook, kAccessViolation}}},
        {"an exception inside an initialisation that then succeeded, and the process ended well",
         Outcome(0, {Init(kHook, InitResult::Succeeded, kAccessViolation)}),
         smallHeap,
         {}},
        {"an exception an initialisation handled before it succeeded, and a later exit with its code",
         Outcome(kAccessViolation, {Init(L"C:\\app\\x.dll", InitResult::Succeeded, kAccessViolation)}),
         {},
         {{FindingKind::ExitStatus, L"C:\\app\\app.exe", kAccessViolation}}},
        {"an initialisation left by its exception, whose return was never seen",
         Outcome(kAccessViolation, {Init(L"C:\\app\\x.dll", InitResult::Unwound, kAccessViolation)}),
         {},
         {{FindingKind::DllInitException, L"C:\\app\\x.dll", kAccessViolation}}},
        {"an exception inside an initialisation whose result could not be seen is no cause",
         Outcome(kAccessViolation, {Init(L"C:\\app\\x.dll", InitResult::Unknown, kAccessViolation)}),
         {},
         {{FindingKind::ExitStatus, L"C:\\app\\app.exe", kAccessViolation}}},
        {"an AppInit_DLLs entry refusing in a process that runs on is a note, and names no heap",
         Outcome(3, {Init(kHook, InitResult::Failed)}),
         smallHeap,
         {{FindingKind::DllInitNote, kHook, std::nullopt}}},
        {"a failed start whose initialisations could not be watched",
         Outcome(kDllInitFailed, {Init(L"C:\\app\\x.dll", InitResult::Unknown)}),
         {},
         {{FindingKind::ExitStatus, L"C:\\app\\app.exe", kDllInitFailed}}},
        {"an unhandled exception names its module; the exit with its code adds nothing",
         Outcome(kAccessViolation, {}, {{kAccessViolation, L"C:\\app\\x.dll", L"Crash+0x7"}}),
         {},
         {{FindingKind::UnhandledException, L"C:\\app\\x.dll", kAccessViolation}}},
        {"an import problem explains the loader's status",
         Outcome(0xC0000135, {}, {}, {{ImportProblemKind::DllNotFound, L"gone.dll", L"C:\\app\\x.dll", L""}}),
         {},
         {{FindingKind::DllNotFound, L"gone.dll", 0xC0000135u}}},
        {"an error exit that nothing explains; an exit code below the errors is none",
         Outcome(0xC0000017, {}),
         {},
         {{FindingKind::ExitStatus, L"C:\\app\\app.exe", 0xC0000017u}}},
        {"an ordinary exit code", Outcome(0x80000003, {}), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectFindings(FindStartFailures({c.process}, c.machine), c.expected);
    }
}

TEST(StartFailures, CausesAreToldInTheOrderTheProcessesEndedAndNotesComeAfterThem) {
    std::vector<ProcessOutcome> processes = {
        Outcome(0, {Init(L"C:\\app\\plugin.dll", InitResult::Failed)}, {}, {}, 0x30),
        Outcome(kDllInitFailed, {Init(L"C:\\app\\x.dll", InitResult::Failed)}, {}, {}, 0x20),
        Outcome(0xC0000017, {}, {}, {}, 0x10),
    };
    std::vector<Finding> found = FindStartFailures(processes, {});
    ASSERT_EQ(3u, found.size());
    EXPECT_EQ(0x20u, found[0].processId);
    EXPECT_EQ(0x10u, found[1].processId);
    EXPECT_EQ(FindingKind::DllInitNote, found[2].kind);
    EXPECT_FALSE(ExplainsFailure(found[2]));
    // The exit code that travels with the findings is that of the process the first cause names.
    EXPECT_EQ(kDllInitFailed, FailedExitCode(found, processes));
    EXPECT_EQ(std::nullopt, FailedExitCode({found[2]}, processes));
}

TEST(FindingTexts, EachKindNamesItsModuleProcessAndCodeInTheLogAndItsDetailInTheUpload) {
    Finding notFound{FindingKind::DllNotFound, 0x2A, L"gone.dll", 0xC0000135};
    notFound.importer = L"%APP%\\x.dll";
    Finding noExport{FindingKind::ImportNotFound, 0x2A, L"%APP%\\x.dll", 0xC0000139};
    noExport.importer = L"%APP%\\app.exe";
    noExport.function = L"Missing";
    Finding crash{FindingKind::UnhandledException, 0x2A, L"%APP%\\x.dll", 0xC0000005};
    crash.function = L"Crash+0x7";
    Finding heap{FindingKind::DesktopHeap, 0x2A, L"%SYSTEM%\\user32.dll", 0xC0000142};
    heap.desktopHeapKb = 128;
    struct Case {
        Finding finding;
        std::wstring line;
        std::wstring entry;
    };
    const std::vector<Case> cases = {
        {notFound, L"Не найдена библиотека gone.dll, импортируемая модулем %APP%\\x.dll (процесс 0x2A, код 0xC0000135)",
         L"dll_not_found;gone.dll;%APP%\\x.dll"},
        {noExport,
         L"В библиотеке %APP%\\x.dll нет функции Missing, импортируемой модулем %APP%\\app.exe "
         L"(процесс 0x2A, код 0xC0000139)",
         L"import_not_found;%APP%\\x.dll;Missing"},
        {crash,
         L"Необработанное исключение в %APP%\\x.dll: У процесса недостаточно прав для получения доступа к виртуальному "
         L"адресу. Функция: Crash+0x7 (процесс 0x2A, код 0xC0000005)",
         L"unhandled_exception;%APP%\\x.dll;0xC0000005"},
        {heap,
         L"Вероятная причина: Desktop Heap = 128 Кб недостаточно для инициализации библиотеки %SYSTEM%\\user32.dll "
         L"(процесс 0x2A, код 0xC0000142)",
         L"desktop_heap;%SYSTEM%\\user32.dll;0xC0000142"},
        {{FindingKind::ExitStatus, 0x2A, L"%APP%\\app.exe", 0xC0000017},
         L"Процесс %APP%\\app.exe завершился с ошибкой: Недостаточно памяти (процесс 0x2A, код 0xC0000017)",
         L"exit_status;%APP%\\app.exe;0xC0000017"},
        {{FindingKind::DllInitNote, 0x2A, L"%APP%\\plugin.dll"},
         L"Библиотека %APP%\\plugin.dll отказалась от инициализации: процесс продолжил работу (процесс 0x2A)",
         L"dll_init_note;%APP%\\plugin.dll;"},
        {{FindingKind::ExitStatus, 0x2A, L"", 0xC00000AA},
         L"Процесс  завершился с ошибкой: Нет описания (процесс 0x2A, код 0xC00000AA)", L"exit_status;;0xC00000AA"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.line, FindingLine(c.finding));
        EXPECT_EQ(c.entry, FindingUploadEntry(c.finding, ";"));
    }
}

TEST(FindingTexts, WhatARefusingThreadShowedFollowsAFailuresLineAndCodeAndNeverANotes) {
    DllInitRecord refused = Init(kHook, InitResult::Failed);
    refused.refusal.lastStatus = 0xC0000999;  // a status without a description of Korvane's
    refused.refusal.failedLoads = {L"a.dll", L"b.dll"};
    std::vector<Finding> failure = FindStartFailures({Outcome(kDllInitFailed, {refused})}, {});
    ASSERT_EQ(1u, failure.size());
    EXPECT_EQ(L"Библиотека C:\\tools\\hook.dll не инициализирована: DllMain вернула FALSE (процесс 0x7, код 0xC0000142). "
              L"Поток: последний статус 0xC0000999. Не загружены: a.dll, b.dll",
              FindingLine(failure[0]));
    EXPECT_EQ(L"dll_init_failed;C:\\tools\\hook.dll;0xC0000142 status=0xC0000999 notloaded=\"a.dll\" notloaded=\"b.dll\"",
              FindingUploadEntry(failure[0], ";"));

    std::vector<Finding> note = FindStartFailures({Outcome(0, {refused})}, {});
    ASSERT_EQ(1u, note.size());
    EXPECT_EQ(FindingKind::DllInitNote, note[0].kind);
    EXPECT_TRUE(note[0].refusal.Empty());
    EXPECT_EQ(L"Библиотека C:\\tools\\hook.dll отказалась от инициализации: процесс продолжил работу (процесс 0x7)",
              FindingLine(note[0]));
}
