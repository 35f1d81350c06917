// A whole run of the real debug loop: the machine description stands in the log
// where it belongs, line for line, between the events and the loaded modules.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "diag/os_version.h"
#include "tests/support/diag_processes.h"
#include "tests/support/diag_registry.h"
#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"

namespace {

const std::wstring kSubSystemsKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems";
const std::wstring kWindowsKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

std::wstring RunningOsLine() {
    OsDescription os;
    os.version.dwOSVersionInfoSize = sizeof(os.version);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&os.version));
    ComposeOsName(os);
    std::wstring line = FormatOsLine(os);
    return line.substr(0, line.size() - 1);  // its own line feed makes the empty line after it
}

// A private copy of a target and the DLLs it loads: tests of other folders run the
// shared copies at the same time, and their command lines would show in the process list.
std::wstring PrivateTargetCopy(const std::wstring& fileName, const std::vector<std::wstring>& dlls) {
    const std::wstring folder = MakeTempFolder(L"complete_log");
    bool copied = true;
    for (const std::wstring& dll : dlls)
        copied &= CopyFileW(TargetPath(dll).c_str(), (folder + dll).c_str(), FALSE) != FALSE;
    const std::wstring copy = folder + fileName;
    copied &= CopyFileW(TargetPath(fileName).c_str(), copy.c_str(), FALSE) != FALSE;
    return copied ? copy : std::wstring();
}

// Checks lines[at] and moves on to the next line.
class LineWalker {
public:
    explicit LineWalker(const std::vector<std::wstring>& lines) : lines_(lines) {}
    void Expect(const std::wstring& expected) {
        ASSERT_LT(at_, lines_.size()) << "the log ends before " << testing::PrintToString(expected);
        EXPECT_EQ(expected, lines_[at_]) << "line " << at_;
        ++at_;
    }
    void ExpectPrefix(const std::wstring& prefix) {
        ASSERT_LT(at_, lines_.size()) << "the log ends before " << testing::PrintToString(prefix);
        EXPECT_TRUE(lines_[at_].starts_with(prefix)) << "line " << at_ << ": " << testing::PrintToString(lines_[at_]);
        ++at_;
    }
    void SkipTo(std::size_t at) { at_ = at; }
    std::size_t At() const { return at_; }

private:
    const std::vector<std::wstring>& lines_;
    std::size_t at_ = 0;
};

TEST(CompleteLog, MachineDescriptionStandsInItsPlacesLineForLine) {
    const std::wstring heapValue =
        L"%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows SharedSection=1024,3072,128 Windows=On";
    const std::wstring appInitValue = L"korvane_absent.dll";
    SavedHklmValue heap(kSubSystemsKey, L"Windows");
    SavedHklmValue appInit(kWindowsKey, L"AppInit_DLLs");
    heap.SetText(heapValue);
    appInit.SetText(appInitValue);
    IdleProcess idle(TargetPath(L"idle_wait.exe"));
    ASSERT_TRUE(idle.Running());

    const std::wstring target = PrivateTargetCopy(L"trace_basic.exe", {L"plain_helper.dll"});
    ASSERT_FALSE(target.empty());
    WatchRun run = RunHeadless(target);
    const std::vector<std::wstring>& lines = run.lines;
    LineWalker walk(lines);

    walk.Expect(L"Korvane v1.0.2 by Ardelan");
    walk.Expect(RunningOsLine());
    walk.Expect(L"");
    walk.Expect(L"Наблюдение за загрузкой процесса " + target);
    walk.ExpectPrefix(L"Создан процесс " + target);

    const std::size_t finished = FindLine(lines, L"Отладка завершена");
    ASSERT_LT(finished, lines.size());
    EXPECT_EQ(lines.size(), FindLine(lines, L"Отладка завершена", finished + 1)) << "written once";
    EXPECT_TRUE(lines[finished - 1].ends_with(L"уничтожен с кодом 0x7")) << "the target's exit ends the events";
    walk.SkipTo(finished);
    walk.Expect(L"Отладка завершена");

    walk.Expect(L"");
    walk.Expect(L"Heap info: HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems\t\t\t");
    walk.Expect(std::wstring(75, L'-'));
    walk.Expect(heapValue);
    walk.Expect(L"ВНИМАНИЕ!!! Значение Desktop Heap = 128 - недостаточно для нормальной работы.\t\t\t\t ");
    walk.Expect(L"Рекомендуется увеличить его до 512");

    walk.Expect(L"");
    walk.Expect(L"AppInit_DLLs: HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs\t\t\t");
    walk.Expect(std::wstring(84, L'-'));
    walk.Expect(appInitValue);

    walk.Expect(L"");
    walk.Expect(L"");
    walk.ExpectPrefix(L"Активные процессы (");
    walk.Expect(std::wstring(23, L'-'));
    const std::size_t processes = walk.At();
    const std::size_t processesEnd = FindLine(lines, std::wstring(28, L'-'), processes);
    ASSERT_LT(processesEnd, lines.size());
    EXPECT_LT(FindLine(lines, idle.CommandLine() + L" - [", processes), processesEnd) << "the idle process is listed";
    // The target has ended before the list is made: its command line (the path, quoted or not) is not listed.
    EXPECT_EQ(processesEnd, FindLine(std::vector<std::wstring>(lines.begin(), lines.begin() + processesEnd), target,
                                     processes));
    EXPECT_EQ(processesEnd, FindLine(std::vector<std::wstring>(lines.begin(), lines.begin() + processesEnd),
                                     L"\"" + target, processes));
    walk.SkipTo(processesEnd);
    walk.Expect(std::wstring(28, L'-'));
    walk.ExpectPrefix(L"Total Working Set: ");

    walk.Expect(L"");
    walk.Expect(L"");
    walk.Expect(L"Загруженные модули:");
    walk.Expect(L"Имя файла - [Размер, Кб; Версия; Дата создания; Дата модификации] - Описание - Компания");
    walk.Expect(std::wstring(87, L'-'));
    for (const std::wstring& path : run.modulePaths) walk.ExpectPrefix(path + L" - [");

    // A warning alone is no cause: nothing failed to start.
    walk.Expect(L"");
    walk.Expect(L"Диагноз:");
    walk.Expect(L"Ошибок запуска не обнаружено");
    EXPECT_EQ(lines.size(), walk.At()) << "the verdict ends the log";
}

}  // namespace
