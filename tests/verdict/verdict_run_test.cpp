// Real debuggees under the real debug loop, headless: the verdict names why a
// start failed, and watching the initialisations changes no event of the run.
// Also, from the files built for them, the starts the loader refuses for a
// missing export and an image of another machine (Wine may start such
// programs where Windows would not); a delay-loaded DLL found nowhere is none
// of a start's causes.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/handles.h"
#include "base/text_1251.h"
#include "modules/fold_path.h"
#include "modules/import_check.h"
#include "tests/support/report_listener.h"
#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"
#include "verdict/findings.h"
#include "verdict/verdict_text.h"
#include "watch/launch_trace.h"

namespace {

constexpr DWORD kRequestArrivalTimeoutMs = 20000;
const std::wstring kDebugString = L"Получена отладочная информация: ";

std::wstring TargetFullPath(const std::wstring& fileName) {
    return FullPath(TargetPath(fileName));
}

std::wstring Folded(std::wstring path) {
    FoldPath(path);
    return path;
}

// The event lines, from the first event to the watched process's exit, with
// thread ids, process ids and load addresses blanked: they differ from run to
// run. So does, under Wine, the folder a system DLL is named from: the system
// folder or Wine's own install tree.
std::vector<std::wstring> EventLines(const WatchRun& run) {
    static const std::wregex varying(L"(base: |process: |thread: |id: |[Пп]оток )0x[0-9A-F]+");
    static const std::wregex wineTree(L"[A-Z]:\\\\[^ ]*\\\\wine\\\\x86_64-windows\\\\");
    std::size_t first = FindLine(run.lines, L"Наблюдение за загрузкой процесса ") + 1;
    std::size_t end = FindLine(run.lines, L"Отладка завершена");
    std::vector<std::wstring> events;
    for (std::size_t i = first; i < end && i < run.lines.size(); ++i)
        events.push_back(std::regex_replace(std::regex_replace(run.lines[i], varying, L"$1*"), wineTree, L"%SYSTEM%\\"));
    return events;
}

// The verdict lines at the end of the log, after "Диагноз:"; also checks that
// the section follows the last loaded-modules row after one empty line.
std::vector<std::wstring> VerdictLines(const WatchRun& run) {
    std::size_t modules = FindLine(run.lines, L"Загруженные модули:");
    std::size_t heading = FindLine(run.lines, L"Диагноз:", modules);
    EXPECT_LT(heading, run.lines.size());
    if (heading >= run.lines.size() || heading < modules + 4) return {};
    EXPECT_EQ(L"", run.lines[heading - 1]);
    EXPECT_NE(std::wstring::npos, run.lines[heading - 2].find(L" - [")) << "a loaded-modules row before the verdict";
    return {run.lines.begin() + static_cast<std::ptrdiff_t>(heading) + 1, run.lines.end()};
}

// The process id of the target, as its creation line gives it.
std::wstring TargetProcessId(const WatchRun& run, const std::wstring& target) {
    std::size_t created = FindLine(run.lines, L"Создан процесс " + target + L" (id: 0x");
    if (created >= run.lines.size()) return {};
    const std::wstring& line = run.lines[created];
    std::size_t at = line.rfind(L"0x");
    return line.substr(at, line.size() - at - 1);
}

// The system's text for an error code, as FormatMessage gives it.
std::wstring SystemText(DWORD code) {
    wchar_t text[512] = L"";
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  512, nullptr);
    return std::wstring(text, length);
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

// The module's initialisation calls in the process that ended last, in the order they began.
std::vector<DllInitRecord> AllCalls(const WatchRun& run, const std::wstring& path) {
    std::vector<DllInitRecord> calls;
    if (run.processOutcomes.empty()) return calls;
    for (const DllInitRecord& init : run.processOutcomes.back().inits) {
        if (init.path == path) calls.push_back(init);
    }
    return calls;
}

// Those of its entry point, without its TLS callbacks.
std::vector<DllInitRecord> EntryCalls(const WatchRun& run, const std::wstring& path) {
    std::vector<DllInitRecord> calls = AllCalls(run, path);
    calls.erase(std::remove_if(calls.begin(), calls.end(), [](const DllInitRecord& init) { return init.tlsCallback; }),
                calls.end());
    return calls;
}

void ExpectSameEvents(const WatchRun& unwatched, const WatchRun& watched) {
    std::vector<std::wstring> before = EventLines(unwatched);
    std::vector<std::wstring> after = EventLines(watched);
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(before.size(), after.size()) << "the watch added or removed event lines";
    for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(before[i], after[i]) << "event line " << i;
}

}  // namespace

TEST(VerdictRun, ImportedDllRefusingItsInitialisationIsNamedAndTheEventsStayThoseOfARunWithoutTheWatch) {
    const std::wstring target = TargetFullPath(L"imports_init_fails.exe");
    const std::wstring dll = Folded(TargetFullPath(L"init_fails.dll"));
    WatchRun unwatched = RunHeadless(target, false);
    WatchRun watched = RunHeadless(target);
    ExpectSameEvents(unwatched, watched);
    EXPECT_EQ(0xC0000142u, watched.lastExitCode);

    ASSERT_EQ(1u, watched.verdict.size());
    EXPECT_EQ(FindingKind::DllInitFailed, watched.verdict[0].kind);
    EXPECT_EQ(dll, watched.verdict[0].module);
    EXPECT_EQ((std::vector<std::wstring>{L"Библиотека " + dll + L" не инициализирована: DllMain вернула FALSE (процесс " +
                                         TargetProcessId(watched, target) +
                                         L", код 0xC0000142). Отладочный вывод: «init_fails: refusing to initialise»"}),
              VerdictLines(watched));
    // Without the watch only the exit status is left to tell.
    ASSERT_EQ(1u, unwatched.verdict.size());
    EXPECT_EQ(FindingKind::ExitStatus, unwatched.verdict[0].kind);
    EXPECT_EQ((std::vector<std::wstring>{L"Процесс " + Folded(target) +
                                         L" завершился с ошибкой: Ошибка инициализации библиотеки DLL (процесс " +
                                         TargetProcessId(unwatched, target) + L", код 0xC0000142)"}),
              VerdictLines(unwatched));
}

TEST(VerdictRun, DllRefusingItsInitialisationUnderLoadLibraryIsANoteWhileTheProgramRunsOnAndExitsZero) {
    const std::wstring target = TargetFullPath(L"loads_init_fails.exe");
    WatchRun unwatched = RunHeadless(target, false);
    WatchRun run = RunHeadless(target);
    // Among them the first byte of LdrLoadDll as the program reads it after
    // the refused initialisation: the watch's int3 there is gone with it.
    ExpectSameEvents(unwatched, run);
    EXPECT_LT(FindLine(run.lines, kDebugString + L"loads_init_fails: LdrLoadDll begins with 0x"), run.lines.size());
    EXPECT_EQ(0u, run.lastExitCode);
    EXPECT_LT(FindLine(run.lines, kDebugString + L"loads_init_fails: not loaded, error 1114"), run.lines.size());
    ASSERT_EQ(1u, run.verdict.size()) << "no exit status finding for an exit with 0";
    EXPECT_EQ(FindingKind::DllInitNote, run.verdict[0].kind);
    EXPECT_FALSE(ExplainsFailure(run.verdict[0]));
    EXPECT_EQ(Folded(TargetFullPath(L"init_fails.dll")), run.verdict[0].module);
    // The answer is still that the program started; the note follows it.
    EXPECT_EQ((std::vector<std::wstring>{L"Ошибок запуска не обнаружено",
                                         L"Библиотека " + run.verdict[0].module +
                                             L" отказалась от инициализации: процесс продолжил работу (процесс " +
                                             TargetProcessId(run, target) + L")"}),
              VerdictLines(run));
}

TEST(VerdictRun, RefusingDllIsToldWithTheLoadThatFoundNothingItsThreadsLastErrorAndItsDebugOutput) {
    const std::wstring target = TargetFullPath(L"imports_refuses_missing.exe");
    const std::wstring dll = Folded(TargetFullPath(L"refuses_missing.dll"));
    WatchRun unwatched = RunHeadless(target, false);
    WatchRun watched = RunHeadless(target);
    ExpectSameEvents(unwatched, watched);
    EXPECT_EQ(0xC0000142u, watched.lastExitCode);
    ASSERT_EQ(1u, watched.verdict.size());
    const Finding& finding = watched.verdict[0];
    EXPECT_EQ(FindingKind::DllInitFailed, finding.kind);
    EXPECT_EQ(dll, finding.module);
    const InitRefusal& refusal = finding.refusal;
    EXPECT_EQ(std::vector<std::wstring>{L"korvane_absent_helper.dll"}, refusal.failedLoads);
    EXPECT_EQ(0x7Eu, refusal.lastError.value_or(0));
    EXPECT_EQ(0, SystemText(0x7E).find(refusal.lastErrorText)) << "the system's own text";
    ASSERT_FALSE(refusal.lastErrorText.empty());
    EXPECT_EQ(0xC0000135u, refusal.lastStatus.value_or(0)) << "the loader's status behind error 0x7E";
    EXPECT_EQ(std::vector<std::wstring>{L"refuses_missing: looking for  its helper"}, refusal.debugStrings)
        << "one line each, without the line breaks";
    EXPECT_EQ((std::vector<std::wstring>{L"Библиотека " + dll + L" не инициализирована: DllMain вернула FALSE (процесс " +
                                         TargetProcessId(watched, target) +
                                         L", код 0xC0000142). Поток: последняя ошибка 0x7E (" + refusal.lastErrorText +
                                         L"), последний статус 0xC0000135 (Не найдена необходимая библиотека DLL). "
                                         L"Не загружены: korvane_absent_helper.dll. Отладочный вывод: "
                                         L"«refuses_missing: looking for  its helper»"}),
              VerdictLines(watched));
}

TEST(VerdictRun, RefusingDllThatSetAccessDeniedIsToldWithErrorFiveAndNothingItDidNotShow) {
    const std::wstring target = TargetFullPath(L"imports_refuses_denied.exe");
    WatchRun run = RunHeadless(target);
    ASSERT_EQ(1u, run.verdict.size());
    const InitRefusal& refusal = run.verdict[0].refusal;
    EXPECT_EQ(ERROR_ACCESS_DENIED, refusal.lastError.value_or(0));
    EXPECT_FALSE(refusal.lastStatus.has_value()) << "SetLastError leaves the status as it was";
    EXPECT_TRUE(refusal.failedLoads.empty());
    EXPECT_TRUE(refusal.debugStrings.empty());
    EXPECT_EQ((std::vector<std::wstring>{L"Библиотека " + Folded(TargetFullPath(L"refuses_denied.dll")) +
                                         L" не инициализирована: DllMain вернула FALSE (процесс " +
                                         TargetProcessId(run, target) + L", код 0xC0000142). Поток: последняя ошибка 0x5 (" +
                                         refusal.lastErrorText + L")"}),
              VerdictLines(run));
    EXPECT_NE(std::wstring::npos, FindingUploadEntry(run.verdict[0], ";").find(L";0xC0000142 error=0x5"));
}

TEST(VerdictRun, AccessViolationInsideDllMainIsThatDllsWithItsCode) {
    const std::wstring target = TargetFullPath(L"imports_init_crashes.exe");
    const std::wstring dll = Folded(TargetFullPath(L"init_crashes.dll"));
    WatchRun unwatched = RunHeadless(target, false);
    WatchRun watched = RunHeadless(target);
    ExpectSameEvents(unwatched, watched);
    ASSERT_FALSE(watched.verdict.empty());
    EXPECT_EQ(FindingKind::DllInitException, watched.verdict[0].kind);
    EXPECT_EQ(dll, watched.verdict[0].module);
    EXPECT_EQ(0xC0000005u, watched.verdict[0].code.value_or(0));
    std::vector<std::wstring> lines = VerdictLines(watched);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(L"Библиотека " + dll +
                  L" вызвала исключение при инициализации: У процесса недостаточно прав для получения доступа к "
                  L"виртуальному адресу (процесс " +
                  TargetProcessId(watched, target) + L", код 0xC0000005)",
              lines[0]);
    for (const Finding& finding : watched.verdict)
        EXPECT_NE(FindingKind::ExitStatus, finding.kind) << "the exit code is the exception's, already named";
    // The loader caught it and called DllMain again to detach: that call's result is not the attach's.
    std::vector<DllInitRecord> inits = EntryCalls(watched, TargetFullPath(L"init_crashes.dll"));
    ASSERT_EQ(1u, inits.size());
    EXPECT_EQ(InitResult::Unwound, inits[0].result);
}

TEST(VerdictRun, TlsCallbacksAreWatchedLikeEntryPointsAndOneThatIsTheEntryIsNotTakenForDllMain) {
    WatchRun refused = RunHeadless(TargetFullPath(L"imports_tls_entry.exe"));
    EXPECT_EQ(0xC0000142u, refused.lastExitCode);
    const std::wstring tlsEntry = TargetFullPath(L"tls_entry.dll");
    std::vector<std::pair<bool, InitResult>> calls;
    for (const DllInitRecord& init : AllCalls(refused, tlsEntry)) calls.emplace_back(init.tlsCallback, init.result);
    EXPECT_EQ((std::vector<std::pair<bool, InitResult>>{{true, InitResult::Succeeded}, {false, InitResult::Failed}}),
              calls) << "the TLS callback first, then DllMain at the same address";
    ASSERT_FALSE(refused.verdict.empty());
    EXPECT_EQ(FindingKind::DllInitFailed, refused.verdict[0].kind);
    EXPECT_EQ(Folded(tlsEntry), refused.verdict[0].module);

    // An exception inside a TLS callback names the callback's module.
    WatchRun crashed = RunHeadless(TargetFullPath(L"imports_tls_crashes.exe"));
    const std::wstring tlsCrashes = TargetFullPath(L"tls_crashes.dll");
    auto named = std::find_if(crashed.verdict.begin(), crashed.verdict.end(),
                              [&](const Finding& finding) { return finding.module == Folded(tlsCrashes); });
    ASSERT_NE(crashed.verdict.end(), named);
    EXPECT_EQ(0xC0000005u, named->code.value_or(0));
    // Wine's loader passes over it and the program runs on; Windows' does not.
    EXPECT_EQ(crashed.lastExitCode == 0 ? FindingKind::DllInitNote : FindingKind::DllInitException, named->kind);
    std::vector<DllInitRecord> callbacks = AllCalls(crashed, tlsCrashes);
    EXPECT_TRUE(std::any_of(callbacks.begin(), callbacks.end(), [](const DllInitRecord& init) {
        return init.tlsCallback && init.exceptionCode == 0xC0000005u;
    }));
}

TEST(VerdictRun, ExceptionHandledInsideAnInitialisationIsNotTakenForTheProgramsLaterCrash) {
    const std::wstring target = TargetFullPath(L"imports_init_handles.exe");
    WatchRun run = RunHeadless(target);
    EXPECT_EQ(0xC0000005u, run.lastExitCode);
    std::vector<DllInitRecord> inits = EntryCalls(run, TargetFullPath(L"init_handles.dll"));
    ASSERT_EQ(1u, inits.size());
    EXPECT_EQ(0xC0000005u, inits[0].exceptionCode.value_or(0)) << "seen inside the initialisation";
    EXPECT_EQ(InitResult::Succeeded, inits[0].result);
    ASSERT_EQ(1u, run.verdict.size());
    EXPECT_EQ(FindingKind::UnhandledException, run.verdict[0].kind);
    EXPECT_EQ(Folded(target), run.verdict[0].module);
}

TEST(VerdictRun, CleanStartOfAProgramOfTwentyDllsHasNoFindingAndEveryInitialisationReturned) {
    // Under Wine the first process of a session to use the desktop starts
    // explorer.exe to keep it, as its own child: the test process keeps the
    // desktop up, so that the run follows the program alone.
    ASSERT_TRUE(GetDesktopWindow());
    const std::wstring target = TargetFullPath(L"twenty_dlls.exe");
    WatchRun run = RunHeadless(target);
    EXPECT_EQ(0u, run.lastExitCode);
    EXPECT_TRUE(run.verdict.empty());
    EXPECT_EQ((std::vector<std::wstring>{L"Ошибок запуска не обнаружено"}), VerdictLines(run));
    ASSERT_FALSE(run.processOutcomes.empty());
    std::size_t entries = 0;
    for (const DllInitRecord& init : run.processOutcomes.back().inits) {
        EXPECT_EQ(InitResult::Succeeded, init.result) << std::string(init.path.begin(), init.path.end());
        entries += init.tlsCallback ? 0 : 1;
    }
    EXPECT_GE(entries, 20u);
}

TEST(VerdictRun, EntryPointInASectionSharedBetweenProcessesIsNeverWritten) {
    WatchRun run = RunHeadless(TargetFullPath(L"imports_shared_entry.exe"));
    EXPECT_EQ(0u, run.lastExitCode);
    EXPECT_TRUE(AllCalls(run, TargetFullPath(L"shared_entry.dll")).empty()) << "its int3 would be every process's";
    EXPECT_TRUE(run.verdict.empty());
}

TEST(VerdictRun, ProcessLetGoWhileItsDllsAreWatchedRunsOnToItsOwnEnd) {
    const std::wstring target = TargetFullPath(L"loads_while_child_exits.exe");
    WatchRun run = RunHeadless(target);
    std::wstring id = TargetProcessId(run, target);
    ASSERT_FALSE(id.empty());
    UniqueHandle parent(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                    std::wcstoul(id.c_str(), nullptr, 16)));
    ASSERT_TRUE(parent) << "still loading its DLL when the run ended";
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(parent.get(), kRequestArrivalTimeoutMs));
    DWORD exitCode = 1;
    GetExitCodeProcess(parent.get(), &exitCode);
    EXPECT_EQ(0u, exitCode) << "a breakpoint or step of the debugger's reached it after the run";
}

// Where the machine's debug registers never fire, the program's own
// breakpoint is never hit, watched or not: it exits 15 then, and the run
// without the watch tells which machine this is.
TEST(VerdictRun, DebuggeesOwnHardwareBreakpointSurvivesTheWatchAndItsSingleStepIsLoggedAsBefore) {
    const std::wstring target = TargetFullPath(L"own_breakpoint.exe");
    WatchRun unwatched = RunHeadless(target, false);
    WatchRun watched = RunHeadless(target);
    ExpectSameEvents(unwatched, watched);
    bool fires = unwatched.lastExitCode == 0;
    if (!fires) {
        EXPECT_EQ(15u, unwatched.lastExitCode) << "14: its debug registers changed";
    }
    EXPECT_EQ(unwatched.lastExitCode, watched.lastExitCode) << "15: its handler never saw the step; 14: its debug registers changed";
    std::size_t kept = FindLine(watched.lines, kDebugString + L"own_breakpoint: debug registers kept");
    EXPECT_LT(kept, watched.lines.size());
    std::size_t step = FindLine(watched.lines,
                                L"Процесс сгенерировал исключение (0x80000004). Подан сигнал о выполнении очередной команды",
                                kept);
    std::size_t caught = FindLine(watched.lines, kDebugString + L"own_breakpoint: own single step caught", step);
    if (fires) {
        EXPECT_LT(caught, watched.lines.size()) << "its breakpoint's exception, then its own handler's string";
    }
    EXPECT_EQ(fires ? 1u : 0u, LinesStartingWith(watched.lines, L"Процесс сгенерировал исключение (0x80000004)").size());
    EXPECT_TRUE(watched.verdict.empty());
    // Beside the debuggee's Dr0 the watch still read the DLL's result.
    ASSERT_EQ(1u, watched.processOutcomes.size());
    const std::vector<DllInitRecord>& inits = watched.processOutcomes[0].inits;
    auto entry = std::find_if(inits.rbegin(), inits.rend(), [](const DllInitRecord& init) { return !init.tlsCallback; });
    ASSERT_NE(inits.rend(), entry);
    EXPECT_EQ(TargetFullPath(L"plain_helper.dll"), entry->path);
    EXPECT_EQ(InitResult::Succeeded, entry->result);
}

TEST(VerdictRun, InitialisationInsideAnotherOnTheSameThreadGivesBothResults) {
    WatchRun run = RunHeadless(TargetFullPath(L"imports_nested_init.exe"));
    EXPECT_EQ(0u, run.lastExitCode);
    ASSERT_EQ(1u, run.processOutcomes.size());
    std::vector<std::pair<std::wstring, InitResult>> results;
    for (const DllInitRecord& init : run.processOutcomes[0].inits) {
        if (init.path.find(L"\\tests\\targets\\") != std::wstring::npos && !init.tlsCallback)
            results.emplace_back(init.path, init.result);
    }
    EXPECT_EQ((std::vector<std::pair<std::wstring, InitResult>>{
                  {TargetFullPath(L"nested_init.dll"), InitResult::Succeeded},
                  {TargetFullPath(L"init_fails.dll"), InitResult::Failed}}),
              results) << "in the order they began";
    ASSERT_EQ(1u, run.verdict.size());
    EXPECT_EQ(Folded(TargetFullPath(L"init_fails.dll")), run.verdict[0].module);
}

TEST(VerdictRun, UploadCarriesTheFindingsAfterTheModulesAndAStartWithoutThemSaysSo) {
    struct Case {
        std::wstring target;
        std::string verdictPiece;
        std::vector<std::wstring> verdictLines;
    };
    const std::wstring dll = Folded(TargetFullPath(L"init_fails.dll"));
    const std::vector<Case> cases = {
        {TargetFullPath(L"starts_fine.exe"), "", {L"Ошибок запуска не обнаружено"}},
        {TargetFullPath(L"imports_init_fails.exe"),
         "&verdict=dll_init_failed;" + ToCp1251(dll) +
             ";0xC0000142 output=\"init_fails: refusing to initialise\"\n&failexitcode=3221225794",
         {}},
        {TargetFullPath(L"imports_refuses_missing.exe"),
         "&verdict=dll_init_failed;" + ToCp1251(Folded(TargetFullPath(L"refuses_missing.dll"))) +
             ";0xC0000142 error=0x7E status=0xC0000135 notloaded=\"korvane_absent_helper.dll\" "
             "output=\"refuses_missing: looking for  its helper\"\n&failexitcode=3221225794",
         {}},
    };
    for (const Case& c : cases) {
        LoopbackListener listener(KORVANE_TEST_REPORT_PORT);
        ASSERT_TRUE(listener.Listening());
        DWORD exitCode = 1;
        std::thread worker([&] {
            LaunchTrace trace(c.target, nullptr, nullptr);
            trace.RunDebugLoop();
            exitCode = trace.lastExitCode;
            trace.log.Close();
            trace.UploadReport();
        });
        worker.join();
        std::optional<ReceivedRequest> request = listener.WaitForRequest(kRequestArrivalTimeoutMs);
        ASSERT_TRUE(request.has_value());
        const std::string& body = request->body;
        std::size_t verdict = std::min(body.find("&verdict="), body.size());
        EXPECT_EQ(c.verdictPiece, body.substr(verdict)) << "the last pieces, none without findings";
        EXPECT_LT(body.rfind("&modules="), verdict);
        EXPECT_EQ('\n', body[verdict - 1]) << "after the last module entry";
        if (exitCode == 0) {
            WatchRun run;
            run.lines = ReadLogLines(WatchLogPath());
            EXPECT_EQ(c.verdictLines, VerdictLines(run));
        }
    }
}

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
    // What to do follows its finding in the log; the upload carries the finding alone.
    ASSERT_EQ(heading + 3, run.lines.size()) << "the advice ends the log";
    EXPECT_EQ(L"Что делать: положите недостающую библиотеку рядом с программой или переустановите программу",
              run.lines[heading + 2]);
    EXPECT_EQ(L"dll_not_found;" + finding.module + L";" + finding.importer, FindingUploadEntry(finding, ";"));
}

TEST(VerdictRun, DotNetHostThatFindsNoRuntimeIsNamedByItsCodeWithTheRuntimeToInstall) {
    const std::wstring target = TargetFullPath(L"dotnet_host_fails.exe");
    WatchRun run = RunHeadless(target);
    EXPECT_EQ(0x80008096u, run.lastExitCode);
    ASSERT_EQ(1u, run.verdict.size());
    EXPECT_EQ(FindingKind::ExitStatus, run.verdict[0].kind);
    EXPECT_TRUE(ExplainsFailure(run.verdict[0]));
    EXPECT_EQ((std::vector<std::wstring>{
                  L"Процесс " + Folded(target) + L" завершился с ошибкой: Хост .NET: не найдена подходящая версия "
                  L"среды выполнения .NET (процесс " + TargetProcessId(run, target) + L", код 0x80008096)",
                  L"Что делать: установите среду выполнения .NET (x64) той версии, которую называет сообщение "
                  L"программы (https://aka.ms/dotnet-download)"}),
              VerdictLines(run));
    EXPECT_EQ(L"exit_status;" + Folded(target) + L";0x80008096", FindingUploadEntry(run.verdict[0], ";"));
}

TEST(VerdictImports, MissingExportAndWrongMachineAreNamedFromTheFilesAndAMissingDelayLoadedDllIsNot) {
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
    EXPECT_EQ(L"Модуль " + foreign[0].module + L" собран для другой платформы, чем процесс, импортируется модулем " +
                  foreign[0].importer + L" (процесс 0x40, код 0xC000007B)",
              FindingLine(foreign[0]));

    const std::wstring delayLoads = TargetFullPath(L"imports_delay_missing.exe");
    std::vector<Finding> delayed = FindingsForRefusedStart(delayLoads, 0xC0000135);
    ASSERT_EQ(1u, delayed.size());
    EXPECT_EQ(FindingKind::ExitStatus, delayed[0].kind) << "the loader loads no delay-loaded DLL at the start";
}
