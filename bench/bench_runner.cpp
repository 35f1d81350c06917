// The benchmark: how much watching with Korvane slows the start of a program.
// In one run and interleaved, it times the reference loop (bare), Korvane's run
// without views (headless) and Korvane's run with its real window and views
// (window) over event storms of each kind and a realistic start, and prints per
// kind the events, microseconds per event and the ratio to the bare loop
// (medians with min-max); the time until a GUI target's first window appears;
// the parts of a run's end (closing sections, Notepad, upload); as a user meets
// it, zar.exe's own window from the chosen file to the report received by a
// loopback listener, for every storm, with the fixed cost and the cost per
// event as ratios to the bare loop; a real program of the system (Notepad, 20
// and more DLLs) to its first window; and, over the DLL storm and the
// realistic start, the cost per DLL load of the verdict's initialisation watch
// (headless runs without and with it). `bench_runner --memory` reports the peak working set of a Korvane
// run over 100,000 events with its window.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "bench/bare_loop.h"
#include "tests/support/report_listener.h"
#include "tests/support/test_files.h"
#include "tests/support/window_driver.h"
#include "watch/launch_trace.h"

namespace {

int g_repetitions = 5;
constexpr UINT kRunDoneMessage = WM_APP + 7;

struct Scenario {
    const wchar_t* kind;
    int count;
};

std::wstring SelfFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

std::wstring StormPath() { return SelfFolder() + L"storm.exe"; }

// Distinct DLL files, so that each load is a first load of its path.
std::wstring PrepareStormDlls(int count) {
    std::wstring folder = SelfFolder() + L"storm-dlls";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring source = SelfFolder() + L"storm_dll.dll";
    for (int i = 0; i < count; ++i)
        CopyFileW(source.c_str(), (folder + L"\\storm_" + std::to_wstring(i) + L".dll").c_str(), FALSE);
    return folder;
}

double Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart);
}

double SecondsPerTick() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1.0 / static_cast<double>(frequency.QuadPart);
}

double Now() { return Ticks() * SecondsPerTick(); }

double Seconds(const std::function<void()>& work) {
    double start = Now();
    work();
    return Now() - start;
}

// The views of the real main window, created once on this (the UI) thread.
struct Views {
    HWND main = nullptr;
    HWND list = nullptr;
    HWND tree = nullptr;
};

Views OpenMainWindow() {
    Views views;
    if (!CreateMainWindow(GetModuleHandleW(nullptr), SW_SHOWNORMAL)) return views;
    views.main = FindWindowW(L"FIX_0XC0000142", nullptr);
    HWND panes = FindWindowExW(views.main, nullptr, MAKEINTATOM(32770), nullptr);
    views.list = GetDlgItem(panes, 1005);
    views.tree = GetDlgItem(panes, 1011);
    return views;
}

struct WindowRun {
    std::wstring target;
    Views views;
    DWORD uiThread;
};

DWORD WINAPI RunWithViews(void* parameter) {
    auto* run = static_cast<WindowRun*>(parameter);
    {
        LaunchTrace trace(run->target, run->views.list, run->views.tree);
        trace.RunDebugLoop();
    }
    PostThreadMessageW(run->uiThread, kRunDoneMessage, 0, 0);
    return 0;
}

// A run on a worker thread while this thread serves the views, as in zar.exe.
void RunKorvaneWindow(const std::wstring& target, const Views& views) {
    WindowRun run{target, views, GetCurrentThreadId()};
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists before the worker posts
    HANDLE worker = CreateThread(nullptr, 0, RunWithViews, &run, 0, nullptr);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == kRunDoneMessage) break;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
}

// The number of debug events the initialisation watch took for itself.
unsigned long long RunKorvaneHeadless(const std::wstring& target, bool watchInitialisations = true) {
    LaunchTrace trace(target, nullptr, nullptr);
    trace.watchInitialisations = watchInitialisations;
    trace.RunDebugLoop();
    return trace.watchEvents;
}

struct Figures {
    std::vector<double> bare, headless, window;
    std::vector<double> unwatched;  // headless without the initialisation watch
    unsigned long long events = 0;
    unsigned long long dllLoads = 0;
    unsigned long long watchEvents = 0;  // of one headless run
    // Seconds from the start of the run to the target's first window (storm window).
    std::vector<double> bareShown, headlessShown, windowShown;
};

// The run of work, and when the target wrote that its window was shown
// (seconds after the start; negative when it wrote nothing).
double TimedWithWindow(const std::wstring& target, const std::function<void()>& work, std::vector<double>& shownAfter) {
    std::wstring shownFile = target + L".shown";
    DeleteFileW(shownFile.c_str());
    double start = Now();
    work();
    double seconds = Now() - start;
    std::string text = ReadFileBytes(shownFile);
    if (!text.empty()) shownAfter.push_back(std::stod(text) * SecondsPerTick() - start);
    return seconds;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A copy of the storm program whose name carries its arguments: every mode
// launches exactly the same file without arguments.
std::wstring StormCopyFor(const Scenario& s) {
    std::wstring copy = SelfFolder() + L"storm-" + s.kind + L"-" + std::to_wstring(s.count) + L".exe";
    CopyFileW(StormPath().c_str(), copy.c_str(), FALSE);
    return copy;
}

void PrintRow(const wchar_t* kind, const Figures& f, const Figures& none) {
    auto perEvent = [&](const std::vector<double>& times, const std::vector<double>& base) {
        return (Median(times) - Median(base)) * 1e6 / static_cast<double>(std::max<unsigned long long>(f.events, 1));
    };
    double bareUs = perEvent(f.bare, none.bare);
    double headlessUs = perEvent(f.headless, none.headless);
    double windowUs = perEvent(f.window, none.window);
    auto range = [](const std::vector<double>& v) {
        return std::make_pair(*std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    };
    auto [hMin, hMax] = range(f.headless);
    auto [wMin, wMax] = range(f.window);
    auto [bMin, bMax] = range(f.bare);
    std::printf("%-11ls %8llu | bare %7.1f us (%.3f-%.3f s) | headless %7.1f us x%5.2f (%.3f-%.3f s) | window %7.1f us x%5.2f (%.3f-%.3f s)\n",
                kind, f.events, bareUs, bMin, bMax, headlessUs, headlessUs / bareUs, hMin, hMax, windowUs,
                windowUs / bareUs, wMin, wMax);
}

void PrintWatchRow(const wchar_t* kind, const Figures& f) {
    double without = Median(f.unwatched);
    double with = Median(f.headless);
    double loads = static_cast<double>(std::max<unsigned long long>(f.dllLoads, 1));
    std::printf("%-11ls %8llu DLL loads | headless without the watch %.3f s, with it %.3f s | %7.1f us and %.2f debug "
                "events of the watch per DLL load\n",
                kind, f.dllLoads, without, with, (with - without) * 1e6 / loads,
                static_cast<double>(f.watchEvents) / loads);
}

PROCESS_MEMORY_COUNTERS OwnMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters;
}

// Korvane with its window over 100,000 debug strings: the peak working set.
int MeasureMemory(const Views& views) {
    Scenario storm{L"strings", 100000};
    std::wstring target = StormCopyFor(storm);
    SIZE_T before = OwnMemory().PeakWorkingSetSize;
    double seconds = Seconds([&] { RunKorvaneWindow(target, views); });
    SIZE_T peak = OwnMemory().PeakWorkingSetSize;
    std::printf("memory: 100000 debug strings with the window: %.1f s, peak working set %.1f MB (%.1f MB before the run)\n",
                seconds, static_cast<double>(peak) / 1048576.0, static_cast<double>(before) / 1048576.0);
    return 0;
}

// The parts of a run's end for a target whose module files were read during
// its run: the registry blocks, the process inventory, the loaded-modules
// section, closing the log with Notepad's start, and the upload to a loopback
// listener until the report has arrived.
struct EndParts {
    std::vector<double> registry, processes, modules, notepad, upload;
};

void CloseNotepadsOf(DWORD processId) {
    for (HWND notepad : LogNotepadsStartedBy(processId)) PostMessageW(notepad, WM_CLOSE, 0, 0);
}

void MeasureEnd(const std::wstring& target, bool factsAsBefore, EndParts& parts) {
    std::vector<std::wstring> paths;
    {
        LaunchTrace run(target, nullptr, nullptr);
        run.RunDebugLoop();
        paths = run.modulePaths;
    }
    LoopbackListener listener(KORVANE_TEST_REPORT_PORT);
    LaunchTrace trace(target, nullptr, nullptr);
    trace.modulePaths = paths;
    if (factsAsBefore) trace.moduleFacts.ReadOnCallerEveryTime();
    for (const std::wstring& path : paths) trace.moduleFacts.Request(path);
    trace.moduleFacts.WaitForAll();
    parts.registry.push_back(Seconds([&] {
        trace.WriteDesktopHeapInfo();
        trace.WriteAppInitDlls();
    }));
    parts.processes.push_back(Seconds([&] { trace.WriteProcessInventory(); }));
    parts.modules.push_back(Seconds([&] { trace.WriteLoadedModules(); }));
    parts.notepad.push_back(Seconds([&] { trace.CloseAndShowLog(); }));
    parts.upload.push_back(Seconds([&] {
        trace.UploadReport();
        listener.WaitForRequest(kRunEndTimeoutMs);
    }));
    WaitForLogNotepadStartedBy(GetCurrentProcessId(), kWindowAppearTimeoutMs);
    CloseNotepadsOf(GetCurrentProcessId());
}

void PrintEnd(const char* how, const EndParts& parts) {
    std::printf("end of a run (%s): registry blocks %.3f s, processes %.3f s, loaded modules %.3f s, log closed and Notepad started %.3f s, upload until received %.3f s\n",
                how, Median(parts.registry), Median(parts.processes), Median(parts.modules), Median(parts.notepad),
                Median(parts.upload));
}

// What a user waits for, through zar.exe's own window: from OK in "Выбор
// файла" to Notepad's window on the log (polled every 50 ms) and to the report
// received by a loopback listener.
struct UserWaits {
    std::vector<double> notepad, report;
};

void RunThroughZar(const ZarWindow& zar, const std::wstring& target, UserWaits& waits) {
    LoopbackListener listener(KORVANE_TEST_REPORT_PORT);
    HWND dialog = zar.OpenFileDialog();
    if (!dialog) return;
    double reportAt = -1;
    double start = Now();
    std::thread receiver([&] {
        if (listener.WaitForRequest(kRunEndTimeoutMs)) reportAt = Now() - start;
    });
    if (zar.ConfirmFile(dialog, target) && zar.WaitForLogInNotepad()) waits.notepad.push_back(Now() - start);
    receiver.join();
    if (reportAt >= 0) waits.report.push_back(reportAt);
    zar.CloseOwnNotepads();
}

void PrintUserWaits(const wchar_t* kind, const UserWaits& waits, const Figures& reference) {
    if (waits.report.empty() || waits.notepad.empty()) {
        std::printf("through the window %-9ls no report or no Notepad arrived\n", kind);
        return;
    }
    double bare = Median(reference.bare);
    std::printf("through the window %-9ls chosen file to report received %.3f s (bare loop's run %.3f s, +%.3f s; %.3f-%.3f s), Notepad's window after %.3f s\n",
                kind, Median(waits.report), bare, Median(waits.report) - bare,
                *std::min_element(waits.report.begin(), waits.report.end()),
                *std::max_element(waits.report.begin(), waits.report.end()), Median(waits.notepad));
}

// Every storm through zar.exe's window, as the user meets it: per event
// beyond the empty run, as a ratio to the bare loop's; the empty run's excess
// is the fixed cost. For DLL loads, also the ratio to the bare loop's cost of
// the program's events and the initialisation watch's together.
void PrintThroughZarRow(const wchar_t* kind, const UserWaits& waits, const UserWaits& noneWaits, const Figures& f,
                        const Figures& none) {
    if (waits.report.empty() || noneWaits.report.empty()) {
        std::printf("through zar.exe %-11ls no report arrived\n", kind);
        return;
    }
    double events = static_cast<double>(std::max<unsigned long long>(f.events, 1));
    double bareUs = (Median(f.bare) - Median(none.bare)) * 1e6 / events;
    double zarUs = (Median(waits.report) - Median(noneWaits.report)) * 1e6 / events;
    std::printf("through zar.exe %-11ls %6llu events | bare %7.1f us | zar.exe %7.1f us per event | x%5.2f", kind,
                f.events, bareUs, zarUs, zarUs / bareUs);
    if (f.watchEvents > 0) {
        double withWatch = bareUs * (events + static_cast<double>(f.watchEvents)) / events;
        std::printf(" | x%5.2f counting the watch's %llu events as the program's", zarUs / withWatch, f.watchEvents);
    }
    std::printf("\n");
}

// A real program of the system, measured to its first window: Wine's or
// Windows' Notepad, closed as soon as its window shows.
struct RealProgram {
    std::vector<double> bare, headless, window;
    unsigned long long dllLoads = 0;
};

std::vector<HWND> NotepadWindows() {
    std::vector<HWND> windows;
    for (HWND w = FindWindowExW(nullptr, nullptr, L"Notepad", nullptr); w;
         w = FindWindowExW(nullptr, w, L"Notepad", nullptr))
        windows.push_back(w);
    return windows;
}

// Seconds from the start until a Notepad window that was not there before
// shows; that window is then closed, which ends the run.
double FirstNotepadWindow(const std::function<void()>& run) {
    std::vector<HWND> before = NotepadWindows();
    double start = Now();
    double shown = -1;
    std::thread watcher([&] {
        while (Now() - start < 30) {
            for (HWND w : NotepadWindows()) {
                if (std::find(before.begin(), before.end(), w) != before.end() || !IsWindowVisible(w)) continue;
                shown = Now() - start;
                PostMessageW(w, WM_CLOSE, 0, 0);
                return;
            }
            Sleep(2);
        }
    });
    run();
    watcher.join();
    return shown;
}

std::wstring SystemNotepad() {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\notepad.exe";
}

void MeasureRealProgram(RealProgram& real, const Views& views) {
    std::wstring notepad = SystemNotepad();
    BareLoopResult bare;
    real.bare.push_back(FirstNotepadWindow([&] { bare = RunBareLoop(notepad, L"\"" + notepad + L"\""); }));
    real.dllLoads = bare.dllLoads;
    real.headless.push_back(FirstNotepadWindow([&] { RunKorvaneHeadless(notepad); }));
    real.window.push_back(FirstNotepadWindow([&] { RunKorvaneWindow(notepad, views); }));
}

void PrintRealProgram(const RealProgram& real) {
    double bare = Median(real.bare);
    std::printf("real program (notepad.exe, %llu DLL loads), until its first window: bare %.3f s | headless %.3f s x%5.2f "
                "| window %.3f s x%5.2f\n",
                real.dllLoads, bare, Median(real.headless), Median(real.headless) / bare, Median(real.window),
                Median(real.window) / bare);
}

void PrintFirstWindow(const Figures& f) {
    if (f.bareShown.empty() || f.headlessShown.empty() || f.windowShown.empty()) {
        std::printf("first window: the target showed no window\n");
        return;
    }
    double bare = Median(f.bareShown);
    std::printf("first window (realistic start, then a window): bare %.3f s | headless %.3f s x%5.2f | window %.3f s x%5.2f\n",
                bare, Median(f.headlessShown), Median(f.headlessShown) / bare, Median(f.windowShown),
                Median(f.windowShown) / bare);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Views views = OpenMainWindow();
    if (!views.list || !views.tree) {
        std::printf("the main window could not be created\n");
        return 1;
    }
    if (argc > 1 && std::wstring(argv[1]) == L"--memory") return MeasureMemory(views);
    if (argc > 1 && std::wstring(argv[1]) == L"--once") g_repetitions = 1;
    if (argc > 1 && std::wstring(argv[1]) == L"--three") g_repetitions = 3;
    std::vector<Scenario> scenarios = {{L"none", 0},         {L"dlls", 300},    {L"strings", 3000},
                                       {L"exceptions", 1000}, {L"threads", 500}, {L"children", 30},
                                       {L"mixed", 200},       {L"realistic", 0}, {L"window", 0}};
    const std::size_t none = 0, realistic = scenarios.size() - 2, firstWindow = scenarios.size() - 1;
    PrepareStormDlls(300);
    std::vector<Figures> figures(scenarios.size());
    EndParts endNow, endBefore;
    std::vector<UserWaits> waits(scenarios.size());
    RealProgram real;
    ZarWindow zar(SelfFolder() + L"..\\tests\\app_under_test\\zar.exe");
    if (!zar.Started()) std::printf("zar.exe for the tests did not start: no figures through its window\n");
    for (int rep = 0; rep < g_repetitions; ++rep) {
        for (std::size_t i = 0; i < scenarios.size(); ++i) {
            std::wstring target = StormCopyFor(scenarios[i]);
            std::wstring quoted = L"\"" + target + L"\"";
            BareLoopResult bare;
            Figures& f = figures[i];
            f.bare.push_back(TimedWithWindow(target, [&] { bare = RunBareLoop(target, quoted); }, f.bareShown));
            f.events = bare.events;
            f.dllLoads = bare.dllLoads;
            f.headless.push_back(
                TimedWithWindow(target, [&] { f.watchEvents = RunKorvaneHeadless(target); }, f.headlessShown));
            if (i == realistic || scenarios[i].kind == std::wstring(L"dlls"))
                f.unwatched.push_back(Seconds([&] { RunKorvaneHeadless(target, false); }));
            f.window.push_back(TimedWithWindow(target, [&] { RunKorvaneWindow(target, views); }, f.windowShown));
            std::fprintf(stderr, "run %d %ls: %llu events, bare %.3f s, headless %.3f s, window %.3f s\n", rep + 1,
                         scenarios[i].kind, bare.events, figures[i].bare.back(), figures[i].headless.back(),
                         figures[i].window.back());
        }
        MeasureEnd(StormCopyFor(scenarios[none]), false, endNow);
        MeasureEnd(StormCopyFor(scenarios[none]), true, endBefore);
        if (zar.Started()) {
            for (std::size_t i = 0; i < firstWindow; ++i) RunThroughZar(zar, StormCopyFor(scenarios[i]), waits[i]);
        }
        MeasureRealProgram(real, views);
    }
    std::printf("per kind: events of one run; microseconds per event beyond the empty run (medians of %d); ratio to bare; whole-run seconds min-max\n",
                g_repetitions);
    for (std::size_t i = 1; i < firstWindow; ++i) PrintRow(scenarios[i].kind, figures[i], figures[none]);
    auto whole = [](const std::vector<double>& v) { return Median(v); };
    for (std::size_t i : {none, realistic}) {
        const Figures& f = figures[i];
        std::printf("%-11ls whole run medians: bare %.3f s, headless %.3f s (x%.2f), window %.3f s (x%.2f)\n",
                    scenarios[i].kind, whole(f.bare), whole(f.headless), whole(f.headless) / whole(f.bare),
                    whole(f.window), whole(f.window) / whole(f.bare));
    }
    PrintFirstWindow(figures[firstWindow]);
    PrintEnd("facts read during the run", endNow);
    PrintEnd("facts read at the end, as before", endBefore);
    PrintRealProgram(real);
    if (zar.Started()) {
        PrintUserWaits(L"none", waits[none], figures[none]);
        PrintUserWaits(L"realistic", waits[realistic], figures[realistic]);
        std::printf("through zar.exe's window, chosen file to report received (medians of %d): fixed cost %+.3f s over "
                    "the bare loop's empty run\n",
                    g_repetitions, Median(waits[none].report) - Median(figures[none].bare));
        for (std::size_t i = 1; i < firstWindow; ++i)
            PrintThroughZarRow(scenarios[i].kind, waits[i], waits[none], figures[i], figures[none]);
    }
    std::printf("the verdict's initialisation watch (medians of %d):\n", g_repetitions);
    for (std::size_t i = 0; i < scenarios.size(); ++i) {
        if (!figures[i].unwatched.empty()) PrintWatchRow(scenarios[i].kind, figures[i]);
    }
    return 0;
}
