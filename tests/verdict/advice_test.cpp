// The line of advice after each finding, over plain records: the verdict is
// run on processes that give every kind of finding, and the log's lines are
// read back as WriteVerdict writes them (the finding, then its advice).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "verdict/advice.h"
#include "verdict/findings.h"
#include "verdict/verdict_text.h"

namespace {

constexpr std::uint16_t kX86 = 0x014C;
constexpr std::uint16_t kX64 = 0x8664;
constexpr std::uint16_t kArm64 = 0xAA64;
const std::wstring kApp = L"C:\\app\\app.exe";
const std::wstring kHook = L"C:\\tools\\hook.dll";
const std::wstring kVisualCpp = L"Что делать: установите распространяемый пакет Visual C++ ";

ProcessOutcome Missing(std::vector<std::wstring> names, std::uint16_t machine) {
    ProcessOutcome process{9, kApp, 0xC0000135, {}, {}, {}};
    for (const std::wstring& name : names)
        process.importProblems.push_back({ImportProblemKind::DllNotFound, name, kApp, L""});
    process.machine = machine;
    return process;
}

ProcessOutcome Exited(std::uint32_t exitCode, std::uint16_t machine, std::vector<DllInitRecord> inits = {}) {
    ProcessOutcome process{9, kApp, exitCode, std::move(inits), {}, {}};
    process.machine = machine;
    return process;
}

// The verdict's lines as the log has them: each finding's line, then its advice, if any.
std::vector<std::wstring> LogLines(const std::vector<ProcessOutcome>& processes, const MachineSettings& machine = {}) {
    std::vector<std::wstring> lines;
    for (const Finding& finding : FindStartFailures(processes, machine)) {
        lines.push_back(FindingLine(finding));
        if (std::wstring advice = AdviceLine(finding); !advice.empty()) lines.push_back(advice);
    }
    return lines;
}

}  // namespace

TEST(Advice, AMissingVisualCppRuntimeNamesItsYearAndTheArchitectureOfTheProcessThatNeedsIt) {
    std::vector<std::wstring> lines = LogLines(
        {Missing({L"VCRUNTIME140_1.dll", L"msvcp140.dll", L"msvcr120.dll", L"MSVCP120.DLL"}, kX64),
         Missing({L"msvcr110.dll", L"msvcr100.dll", L"msvcr90.dll", L"msvcr80.dll"}, kX86),
         Missing({L"msvcp100.dll"}, 0), Missing({L"msvcp110.dll"}, kArm64)});
    const std::vector<std::wstring> expected = {
        L"Не найдена библиотека VCRUNTIME140_1.dll, импортируемая модулем C:\\app\\app.exe (процесс 0x9, код 0xC0000135)",
        kVisualCpp + L"2015-2022 (x64) с сайта Microsoft",
        L"Не найдена библиотека msvcp140.dll, импортируемая модулем C:\\app\\app.exe (процесс 0x9, код 0xC0000135)",
        kVisualCpp + L"2015-2022 (x64) с сайта Microsoft",
        L"Не найдена библиотека msvcr120.dll, импортируемая модулем C:\\app\\app.exe (процесс 0x9, код 0xC0000135)",
        kVisualCpp + L"2013 (x64) с сайта Microsoft",
        L"Не найдена библиотека MSVCP120.DLL, импортируемая модулем C:\\app\\app.exe (процесс 0x9, код 0xC0000135)",
        kVisualCpp + L"2013 (x64) с сайта Microsoft",
        L"Не найдена библиотека msvcr110.dll, импортируемая модулем C:\\app\\app.exe (процесс 0x9, код 0xC0000135)",
        kVisualCpp + L"2012 (x86) с сайта Microsoft",
        L"Не найдена библиотека msvcr100.dll, импортируемая модулем C:\\app\\app.exe (процесс 0x9, код 0xC0000135)",
        kVisualCpp + L"2010 (x86) с сайта Microsoft",
        L"Не найдена библиотека msvcr90.dll, импортируемая модулем C:\\app\\app.exe (процесс 0x9, код 0xC0000135)",
        kVisualCpp + L"2008 (x86) с сайта Microsoft",
        L"Не найдена библиотека msvcr80.dll, импортируемая модулем C:\\app\\app.exe (процесс 0x9, код 0xC0000135)",
        kVisualCpp + L"2005 (x86) с сайта Microsoft",
        // An architecture the records do not know, or one the advice cannot name, is left out.
        L"Не найдена библиотека msvcp100.dll, импортируемая модулем C:\\app\\app.exe (процесс 0x9, код 0xC0000135)",
        kVisualCpp + L"2010 с сайта Microsoft",
        L"Не найдена библиотека msvcp110.dll, импортируемая модулем C:\\app\\app.exe (процесс 0x9, код 0xC0000135)",
        kVisualCpp + L"2012 с сайта Microsoft",
    };
    EXPECT_EQ(expected, lines);
}

TEST(Advice, EveryOtherKindGetsItsAdviceOrNoneWhereNoneIsSound) {
    Finding badImage{FindingKind::BadImageFormat, 9, L"C:\\app\\plugin.dll", 0xC000007B};
    badImage.importer = kApp;
    badImage.machine = kX86;
    Finding ownImage{FindingKind::BadImageFormat, 9, kApp, 0xC000007B};
    Finding heap{FindingKind::DesktopHeap, 9, L"C:\\windows\\system32\\user32.dll", 0xC0000142};
    Finding appInit{FindingKind::AppInitDll, 9, kHook, 0xC0000142};
    Finding dotNetMissing{FindingKind::ExitStatus, 9, kApp, 0x80008083};
    dotNetMissing.machine = kX64;
    Finding dotNetVersion{FindingKind::ExitStatus, 9, kApp, 0x80008096};
    Finding dotNetConfig{FindingKind::ExitStatus, 9, kApp, 0x80008093};
    struct Case {
        const char* name;
        Finding finding;
        std::wstring advice;
    };
    const std::vector<Case> cases = {
        {"the Universal C Runtime's sets", {FindingKind::DllNotFound, 9, L"API-MS-WIN-CRT-runtime-l1-1-0.dll", 0xC0000135},
         L"Что делать: установите обновление KB2999226 (универсальная среда выполнения C) из Центра обновления Windows"},
        {"a set of Windows itself", {FindingKind::DllNotFound, 9, L"api-ms-win-core-path-l1-1-0.dll", 0xC0000135}, L""},
        {"an extension set", {FindingKind::DllNotFound, 9, L"ext-ms-win-ntuser-window-l1-1-0.dll", 0xC0000135}, L""},
        {"any other DLL", {FindingKind::DllNotFound, 9, L"engine.dll", 0xC0000135},
         L"Что делать: положите недостающую библиотеку рядом с программой или переустановите программу"},
        {"a DLL of the other architecture", badImage,
         L"Что делать: замените эту библиотеку её версией той же разрядности, что и программа (x86)"},
        {"the process's own image is no DLL to replace", ownImage, L""},
        {"the desktop heap", heap,
         L"Что делать: в значении Windows раздела реестра HKLM\\System\\CurrentControlSet\\Control\\Session "
         L"Manager\\SubSystems увеличьте третье число SharedSection=…,…,… (куча рабочих столов неинтерактивных "
         L"сеансов; второе число — куча интерактивного рабочего стола) до 768 и перезагрузите компьютер"},
        {"an AppInit_DLLs entry", appInit,
         L"Что делать: удалите эту библиотеку из значения AppInit_DLLs раздела реестра HKLM\\SOFTWARE\\Microsoft\\"
         L"Windows NT\\CurrentVersion\\Windows (у 32-разрядных программ в 64-разрядной Windows — HKLM\\SOFTWARE\\"
         L"WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows) или обновите программу, которая её туда записала"},
        {"no .NET runtime", dotNetMissing,
         L"Что делать: установите среду выполнения .NET (x64), которую называет сообщение программы "
         L"(https://aka.ms/dotnet-download), или переустановите программу"},
        {"no .NET runtime of the version asked for", dotNetVersion,
         L"Что делать: установите среду выполнения .NET той версии, которую называет сообщение программы "
         L"(https://aka.ms/dotnet-download)"},
        {"a broken .runtimeconfig.json is the program's own", dotNetConfig, L""},
        {"another exit status", {FindingKind::ExitStatus, 9, kApp, 0xC0000017}, L""},
        {"a missing export", {FindingKind::ImportNotFound, 9, L"msvcp140.dll", 0xC0000139}, L""},
        {"a failed initialisation", {FindingKind::DllInitFailed, 9, kHook, 0xC0000142}, L""},
        {"an exception in an initialisation", {FindingKind::DllInitException, 9, kHook, 0xC0000005}, L""},
        {"an unfinished initialisation", {FindingKind::DllInitUnfinished, 9, kHook, 0xC0000005}, L""},
        {"an unhandled exception", {FindingKind::UnhandledException, 9, kHook, 0xC0000005}, L""},
        {"a note", {FindingKind::DllInitNote, 9, kHook}, L""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.advice, AdviceLine(c.finding)) << c.name;
}

TEST(Advice, DotNetHostCodesEndAFailedStartWithTheirNameAndTheDllsOfSuchAProcessAreCauses) {
    EXPECT_EQ(LogLines({Exited(0x80008096, kX86)}),
              (std::vector<std::wstring>{
                  L"Процесс C:\\app\\app.exe завершился с ошибкой: Хост .NET: не найдена подходящая версия среды "
                  L"выполнения .NET (процесс 0x9, код 0x80008096)",
                  L"Что делать: установите среду выполнения .NET (x86) той версии, которую называет сообщение "
                  L"программы (https://aka.ms/dotnet-download)"}));
    // Every documented code is named; the unused ones inside the range are a program's own codes.
    for (std::uint32_t code = 0x80008081; code <= 0x800080A6; ++code) {
        const bool unused = code == 0x80008086 || code == 0x8000808F || code == 0x8000808D || code == 0x80008090 ||
                            code == 0x80008099 || code == 0x8000809E;
        EXPECT_EQ(unused, ExitStatusDescription(code) == L"Нет описания") << std::hex << code;
        EXPECT_EQ(unused, FindStartFailures({Exited(code, kX64)}, {}).empty()) << std::hex << code;
    }
    EXPECT_TRUE(FindStartFailures({Exited(0x800080A7, kX64)}, {}).empty());
    EXPECT_TRUE(FindStartFailures({Exited(0x80008080, kX64)}, {}).empty());
    // A DLL that refused its initialisation in a process whose host then gave up is a cause, not a note.
    std::vector<Finding> found =
        FindStartFailures({Exited(0x80008083, kX64, {{kHook, InitResult::Failed, std::nullopt, false}})}, {});
    ASSERT_EQ(2u, found.size());
    EXPECT_EQ(FindingKind::DllInitFailed, found[0].kind);
    EXPECT_EQ(FindingKind::ExitStatus, found[1].kind);
}
