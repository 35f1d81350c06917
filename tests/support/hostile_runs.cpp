// Hostile runs of the real debug loop, headless or with the real main window.
#include "tests/support/hostile_runs.h"

#include <psapi.h>

#include <atomic>
#include <cstdio>

#include "app/main_window.h"
#include "tests/support/test_files.h"
#include "tests/support/window_driver.h"
#include "watch/launch_trace.h"

namespace {

constexpr int kListViewId = 1005;
constexpr int kTreeViewId = 1011;
constexpr DWORD kProbeIntervalMs = 50;
constexpr UINT kRunDoneMessage = WM_APP + 11;

SIZE_T PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize;
}

double Now() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Worker {
    std::wstring target;
    HWND list = nullptr;
    HWND tree = nullptr;
    DWORD notifyThread = 0;
    WatchRun run;
};

DWORD WINAPI RunLoop(void* parameter) {
    auto* worker = static_cast<Worker*>(parameter);
    {
        LaunchTrace trace(worker->target, worker->list, worker->tree);
        trace.RunDebugLoop();
        worker->run.lastExitCode = trace.lastExitCode;
        worker->run.modulePaths = trace.modulePaths;
    }
    if (worker->notifyThread) PostThreadMessageW(worker->notifyThread, kRunDoneMessage, 0, 0);
    return 0;
}

void ReadLog(TimedRun& timed) {
    timed.run.logBytes = ReadFileBytes(WatchLogPath());
    timed.run.lines = ReadLogLines(WatchLogPath());
}

// The real main window, made once per test program on the first thread that asks.
struct MainWindow {
    HWND main = nullptr;
    HWND list = nullptr;
    HWND tree = nullptr;
};

const MainWindow& TheMainWindow() {
    static MainWindow window = [] {
        MainWindow made;
        if (!CreateMainWindow(GetModuleHandleW(nullptr), SW_SHOWNORMAL)) return made;
        // Ours, not that of a zar.exe that tests of another folder may be running.
        made.main = FindProcessWindow(GetCurrentProcessId(), L"FIX_0XC0000142", nullptr);
        HWND panes = FindWindowExW(made.main, nullptr, MAKEINTATOM(32770), nullptr);
        made.list = GetDlgItem(panes, kListViewId);
        made.tree = GetDlgItem(panes, kTreeViewId);
        return made;
    }();
    return window;
}

struct Probe {
    HWND window;
    DWORD answerTimeoutMs;
    std::atomic<bool> stop{false};
    DWORD slowestMs = 0;
    unsigned unanswered = 0;
    unsigned sent = 0;
};

// Asks the window for an answer again and again, as the system does to decide
// whether a window hangs.
DWORD WINAPI ProbeWindow(void* parameter) {
    auto* probe = static_cast<Probe*>(parameter);
    while (!probe->stop) {
        DWORD_PTR answer = 0;
        ULONGLONG start = GetTickCount64();
        LRESULT answered =
            SendMessageTimeoutW(probe->window, WM_NULL, 0, 0, SMTO_NORMAL, probe->answerTimeoutMs, &answer);
        DWORD waited = static_cast<DWORD>(GetTickCount64() - start);
        ++probe->sent;
        if (!answered) ++probe->unanswered;
        if (waited > probe->slowestMs) probe->slowestMs = waited;
        Sleep(kProbeIntervalMs);
    }
    return 0;
}

}  // namespace

std::wstring HostileCopy(const std::wstring& mode, const std::wstring& argument) {
    std::wstring copy = TestProgramFolder() + L"hostile-" + mode + L"-" + argument + L".exe";
    CopyFileW(TargetPath(L"hostile.exe").c_str(), copy.c_str(), FALSE);
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(copy.c_str(), MAX_PATH, full, nullptr);
    return full;
}

std::map<std::string, long long> ReadCounts(const std::wstring& path, const std::wstring& suffix) {
    std::map<std::string, long long> counts;
    std::string text = ReadFileBytes(path + suffix + L".counts");
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        std::size_t equals = line.find('=');
        if (equals != std::string::npos) counts[line.substr(0, equals)] = std::stoll(line.substr(equals + 1));
        at = end + 1;
    }
    return counts;
}

void ForgetCounts(const std::wstring& path, const std::wstring& suffix) {
    DeleteFileW((path + suffix + L".counts").c_str());
}

TimedRun RunHeadlessWithin(const std::wstring& targetPath, DWORD timeoutMs) {
    TimedRun timed;
    auto* worker = new Worker;
    worker->target = targetPath;
    double start = Now();
    HANDLE thread = CreateThread(nullptr, 0, RunLoop, worker, 0, nullptr);
    timed.ended = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    timed.seconds = Now() - start;
    CloseHandle(thread);
    if (!timed.ended) return timed;  // the worker keeps its record: the thread may still use it
    timed.run = std::move(worker->run);
    delete worker;
    ReadLog(timed);
    timed.peakWorkingSet = PeakWorkingSet();
    return timed;
}

TimedRun RunWithWindowWithin(const std::wstring& targetPath, DWORD timeoutMs, DWORD answerTimeoutMs) {
    TimedRun timed;
    const MainWindow& window = TheMainWindow();
    if (!window.list || !window.tree) return timed;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before the worker posts to it
    auto* worker = new Worker;
    worker->target = targetPath;
    worker->list = window.list;
    worker->tree = window.tree;
    worker->notifyThread = GetCurrentThreadId();
    Probe probe{window.main, answerTimeoutMs};
    double start = Now();
    HANDLE thread = CreateThread(nullptr, 0, RunLoop, worker, 0, nullptr);
    HANDLE prober = CreateThread(nullptr, 0, ProbeWindow, &probe, 0, nullptr);
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!timed.ended && GetTickCount64() < deadline) {
        MsgWaitForMultipleObjects(1, &thread, FALSE, 100, QS_ALLINPUT);
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.hwnd == nullptr && message.message == kRunDoneMessage) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        timed.ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    }
    timed.seconds = Now() - start;
    probe.stop = true;
    WaitForSingleObject(prober, INFINITE);
    CloseHandle(prober);
    CloseHandle(thread);
    timed.slowestAnswerMs = probe.slowestMs;
    timed.unansweredProbes = probe.unanswered;
    timed.probes = probe.sent;
    if (!timed.ended) return timed;
    timed.run = std::move(worker->run);
    delete worker;
    ReadLog(timed);
    timed.peakWorkingSet = PeakWorkingSet();
    return timed;
}

void PrintRunFigures(const char* name, const TimedRun& run) {
    std::printf("[ figures  ] %s: %s in %.1f s, %zu log lines, peak working set %.1f MB", name,
                run.ended ? "ended" : "NOT ENDED", run.seconds, run.run.lines.size(),
                static_cast<double>(run.peakWorkingSet) / 1048576.0);
    if (run.probes) std::printf(", window answered %u probes, slowest %lu ms, %u unanswered", run.probes,
                                static_cast<unsigned long>(run.slowestAnswerMs), run.unansweredProbes);
    std::printf("\n");
    std::fflush(stdout);
}

std::size_t CountLines(const std::vector<std::wstring>& lines, std::wstring_view prefix) {
    std::size_t count = 0;
    for (const std::wstring& line : lines) count += std::wstring_view(line).starts_with(prefix);
    return count;
}
