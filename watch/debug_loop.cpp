// The debug event loop: launches the target under the debugger, turns every
// event of it and of each process it starts into one line for the tree view
// and the log, keeps the run's module lists, and continues the event.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string_view>

#include "app/error_reporter.h"
#include "base/format_bounded.h"
#include "base/handles.h"
#include "modules/file_facts.h"
#include "modules/fold_path.h"
#include "modules/import_check.h"
#include "report/split_path.h"
#include "verdict/findings.h"
#include "watch/debuggee.h"
#include "watch/dll_init_watch.h"
#include "watch/exception_text.h"
#include "watch/image_names.h"
#include "watch/launch_trace.h"
#include "watch/run_stop.h"

namespace {

constexpr wchar_t kTitleLine[] = L"Korvane v1.0.2 by Ardelan";
constexpr std::size_t kWatchLineRoom = 360;
constexpr std::size_t kThreadCreatedRoom = 50;
constexpr std::size_t kProcessCreatedRoom = 300;
constexpr std::size_t kThreadExitRoom = 100;
constexpr std::size_t kProcessExitRoom = 200;
constexpr std::size_t kDllLineRoom = 300;
constexpr std::size_t kDebugStringLineExtra = 32;
constexpr DWORD kLaunchFailureThread = 0;
constexpr int kMaxQueuedEvents = 1024;
// How soon a quiet run notices that it is asked to stop.
constexpr DWORD kStopPollMs = 50;
// How long a row waits for its version columns at most while the run is quiet: a frame.
constexpr DWORD kFillPauseMs = 16;

// What the loop keeps of one debuggee process, from its creation event to its exit event.
struct ProcessRecord {
    HANDLE process;          // delivered with the creation event: the system closes it, never we
    std::wstring imagePath;  // resolved at creation, for the exit line when the exit cannot name it
    SymbolSession symbols;
    // What the verdict needs of the process: its DLLs' initialisations, its
    // unhandled exceptions, and where its loader looks for DLLs (read while the
    // process parameters still exist).
    DllInitWatch initWatch;
    std::vector<UnhandledException> unhandled;
    LoaderSearch loaderSearch;
};

// A DLL path with the low 32 bits of its first load address, to name it at its unload.
struct UnloadEntry {
    DWORD base;
    std::wstring path;
};

// One event as the loop reports it: its line (none for a code it does not
// know) and the status it is continued with.
struct EventOutcome {
    std::optional<std::wstring> line;
    DWORD status;
};

DWORD Low32(const void* address) {
    return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(address));
}

// Quoted when it holds a blank, so that the target sees its own path as one argument.
std::wstring LaunchCommandLine(const std::wstring& path) {
    if (path.find_first_of(L" \t") == std::wstring::npos) return path;
    return L"\"" + path + L"\"";
}

// The folder holding the chosen file, as a current folder ("C:\\" for a file at a root).
std::wstring TargetFolder(const std::wstring& targetPath) {
    const std::size_t slash = targetPath.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    return targetPath.substr(0, slash == 0 || targetPath[slash - 1] == L':' ? slash + 1 : slash);
}

// Starts the target with every process it creates under the debugger; a
// target that cannot start ends the program through the error box.
PROCESS_INFORMATION LaunchTarget(LaunchTrace& trace) {
    std::wstring commandLine = LaunchCommandLine(trace.targetPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION launched = {};
    // The path as application name too: exactly the chosen file starts, never
    // a C:\Program.exe found by splitting an unquoted path at its blanks. The
    // target inherits Korvane's error mode as from any other starter, so the
    // system shows its own box when the start fails (the box users come to
    // explain); the run goes on once it is closed. It starts in its own
    // folder, where Windows' file dialog leaves the current folder (Wine's
    // leaves the previous choice's): never finding DLLs of another folder.
    const std::wstring folder = TargetFolder(trace.targetPath);
    if (!CreateProcessW(trace.targetPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DEBUG_PROCESS, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &launched)) {
        DWORD error = GetLastError();
        trace.AddEventItem(kLaunchFailureThread, L"Ошибка при запуске процесса");
        trace.PaintViews();  // seen while the error box waits
        ReportErrorAndExit(L"Unable to create process", error);
    }
    return launched;
}

// File name and directory (without its trailing backslash) of the path as
// shown, and room for the three version texts.
std::vector<std::wstring> ModuleRow(const std::wstring& shownPath) {
    wchar_t directory[kPathChars];
    wchar_t name[kPathChars];
    SplitPath(shownPath, directory, name);
    std::wstring folder(directory);
    if (!folder.empty()) folder.pop_back();
    return {name, folder, L"", L"", L""};
}

// A list view row waiting for the facts of its file.
struct PendingRow {
    std::wstring path;
    std::vector<std::wstring> row;
};

// The path of the file delivered with an event. The handle is the debugger's:
// it is closed here, once its name is read, or the file would stay open.
std::wstring NameOfDeliveredFile(HANDLE delivered) {
    UniqueHandle file(delivered);
    wchar_t path[kPathChars] = L"";
    if (file) FileNameFromHandle(file.get(), path);
    return path;
}

// The text of a debug string, up to its first zero. The length field holds
// bytes (only their low 16 bits); narrow strings are in the ANSI code page.
std::wstring DebugStringText(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    std::string bytes =
        ReadUpToUnreadable(process, reinterpret_cast<std::uintptr_t>(info.lpDebugStringData), info.nDebugStringLength);
    if (info.fUnicode) {
        std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
        std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
        return text.substr(0, text.find(L'\0'));
    }
    bytes.resize(std::min(bytes.size(), bytes.find('\0')));
    if (bytes.empty()) return {};
    int length = static_cast<int>(bytes.size());
    std::wstring text(bytes.size(), L'\0');
    int converted = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.data(), length);
    text.resize(converted > 0 ? static_cast<std::size_t>(converted) : 0);
    return text;
}

// Wine refuses the two terminate statuses (ERROR_INVALID_PARAMETER) and keeps
// the event pending, which would freeze the debuggee for ever; DBG_CONTINUE
// ends an exiting thread or process just the same.
void ContinueEvent(const DEBUG_EVENT& event, DWORD status) {
    if (ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status)) return;
    if (status == DBG_TERMINATE_THREAD || status == DBG_TERMINATE_PROCESS)
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
}

class EventLoop {
public:
    EventLoop(LaunchTrace& trace, RunSymbols& symbols) : trace_(trace), symbols_(symbols) {}

    // Until the most recently created process has exited and its exit event
    // has been continued (the system may never close its handle: Wine does
    // not), or until the system has no event to give.
    void Run() {
        DEBUG_EVENT event = {};
        while (NextEvent(event)) {
            // The initialisation watch's own breakpoints are no events of the
            // program: no line, and continued as handled.
            bool own = IsOwnBreakpoint(event);
            if (own)
                ++trace_.watchEvents;
            else
                ShowThread(event);
            EventOutcome outcome = own ? EventOutcome{std::nullopt, DBG_CONTINUE} : Describe(event);
            if (!own) status_ = outcome.status;
            if (outcome.line) {
                trace_.AddEventItem(event.dwThreadId, *outcome.line);
                trace_.WriteLogLine(*outcome.line);
            }
            bool watchedExited =
                event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT && event.dwProcessId == watchedProcessId_;
            ContinueEvent(event, outcome.status);
            if (watchedExited) return;
        }
    }

    // The module's row at once, with its name and directory; its version
    // columns once its facts have been read.
    void ShowModuleRow(const std::wstring& path, const std::wstring& shownPath) {
        if (!trace_.listView) return;
        std::vector<std::wstring> row = ModuleRow(shownPath);
        trace_.AddModuleRow(row);
        pendingRows_.push_back({path, std::move(row)});
    }

    // Every row complete, before the run's end is written.
    void FillAllRows() {
        if (pendingRows_.empty()) return;
        trace_.moduleFacts.WaitForAll();
        FillArrivedRows();
    }

    // Processes still alive (an older one whose child was created last and
    // exited first, or all of them when the run is stopped) would be killed
    // when this thread or the program ends: let them run on. One whose creation
    // was not reported yet is let go when the debugger goes.
    void DetachSurvivors() {
        DebugSetProcessKillOnExit(FALSE);
        if (processes_.empty()) return;
        std::vector<DWORD> survivors;
        for (const auto& entry : processes_) survivors.push_back(entry.first);
        // Nothing of the watch may stay behind in a process that runs on.
        for (auto& entry : processes_) entry.second.initWatch.Disarm();
        SettleQueuedEvents();
        processes_.clear();  // their symbol sessions end while the handles are still valid
        for (DWORD processId : survivors) DebugActiveProcessStop(processId);
    }

private:
    // Events raised before the watch was disarmed may still wait to be
    // delivered: each is continued now, a breakpoint of the watch's with its
    // instruction pointer set back, so that no process running on alone meets
    // an exception that was meant for the debugger.
    void SettleQueuedEvents() {
        DEBUG_EVENT event = {};
        // Each thread has at most one event waiting; what comes after these is no longer the watch's.
        for (int left = kMaxQueuedEvents; left > 0 && WaitForDebugEvent(&event, 0); --left) {
            DWORD status = DBG_CONTINUE;
            ProcessRecord* record = Find(event.dwProcessId);
            if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                !(record && record->initWatch.SettleLateEvent(event)))
                status = DBG_EXCEPTION_NOT_HANDLED;
            // The debugger owns the files these events deliver.
            UniqueHandle deliveredFile(event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT ? event.u.LoadDll.hFile
                                       : event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT
                                           ? event.u.CreateProcessInfo.hFile
                                           : nullptr);
            ContinueEvent(event, status);
        }
    }

    // The watch learns of a thread's frames from every event it sends.
    void ShowThread(const DEBUG_EVENT& event) {
        ProcessRecord* record = Find(event.dwProcessId);
        if (!record) return;
        if (event.dwDebugEventCode == CREATE_THREAD_DEBUG_EVENT)
            record->initWatch.ThreadCreated(event.dwThreadId, event.u.CreateThread.hThread);
        else if (event.dwDebugEventCode == EXIT_THREAD_DEBUG_EVENT)
            record->initWatch.ThreadExited(event.dwThreadId);
        else
            record->initWatch.ThreadShown(event);
    }

    // The rows whose facts have been read, in the order they were shown, as one change.
    void FillArrivedRows() {
        std::vector<std::vector<std::wstring>> filled;
        while (!pendingRows_.empty()) {
            const FileFacts* facts = trace_.moduleFacts.Arrived(pendingRows_.front().path);
            if (!facts) break;
            std::vector<std::wstring> row = std::move(pendingRows_.front().row);
            row[2] = facts->ProductVersionText();
            row[3] = facts->DescriptionText();
            row[4] = facts->CompanyText();
            filled.push_back(std::move(row));
            pendingRows_.pop_front();
        }
        if (filled.empty()) return;
        trace_.FillModuleRows(filled);
        lastFill_ = GetTickCount64();
    }

    // Waits for the next event; false when the system has none to give or the
    // run is asked to stop (every event so far has been continued then). Rows
    // waiting for their facts keep the wait a frame long, so that a quiet
    // debuggee's rows still get them; they get them at most once a frame.
    bool NextEvent(DEBUG_EVENT& event) {
        while (!RunStopRequested()) {
            if (GetTickCount64() - lastFill_ >= kFillPauseMs) FillArrivedRows();
            DWORD wait = pendingRows_.empty() ? kStopPollMs : kFillPauseMs;
            if (WaitForDebugEvent(&event, wait)) return true;
            if (GetLastError() != ERROR_SEM_TIMEOUT) return false;
            ReadAheadOnceQuiet();
            FillArrivedRows();
        }
        return false;
    }

    // The first time the debuggee has let a wait pass without an event, the
    // reading ahead for the end begins: never while events pour in.
    void ReadAheadOnceQuiet() {
        if (readAheadBegun_) return;
        readAheadBegun_ = true;
        trace_.ReadRunningImagesAhead();
    }

    EventOutcome Describe(const DEBUG_EVENT& event) {
        switch (event.dwDebugEventCode) {
        case EXCEPTION_DEBUG_EVENT:
            return OnException(event);
        case CREATE_THREAD_DEBUG_EVENT:
            return {FormatToString(kThreadCreatedRoom, L"Создан поток 0x%X", event.dwThreadId), DBG_CONTINUE};
        case CREATE_PROCESS_DEBUG_EVENT:
            return {OnProcessCreated(event), DBG_CONTINUE};
        case EXIT_THREAD_DEBUG_EVENT:
            return {FormatToString(kThreadExitRoom, L"Поток 0x%X уничтожен с кодом 0x%X", event.dwThreadId,
                                   event.u.ExitThread.dwExitCode),
                    DBG_TERMINATE_THREAD};
        case EXIT_PROCESS_DEBUG_EVENT:
            return {OnProcessExited(event), DBG_TERMINATE_PROCESS};
        case LOAD_DLL_DEBUG_EVENT:
            return {OnDllLoaded(event), DBG_CONTINUE};
        case UNLOAD_DLL_DEBUG_EVENT:
            return {OnDllUnloaded(event), DBG_CONTINUE};
        case OUTPUT_DEBUG_STRING_EVENT:
            return {OnDebugString(event), DBG_CONTINUE};
        case RIP_EVENT:
            return {L"Произошла системная ошибка при отладке", DBG_CONTINUE};
        default:
            return {std::nullopt, status_};
        }
    }

    bool IsOwnBreakpoint(const DEBUG_EVENT& event) {
        if (event.dwDebugEventCode != EXCEPTION_DEBUG_EVENT) return false;
        ProcessRecord* record = Find(event.dwProcessId);
        return record && record->initWatch.TakeOwnBreakpoint(event);
    }

    EventOutcome OnException(const DEBUG_EVENT& event) {
        std::wstring line;
        SymbolSession noSymbols;
        ProcessRecord* record = Find(event.dwProcessId);
        DWORD status = DescribeException(event, line, record ? record->symbols : noSymbols);
        if (record) NoteException(*record, event);
        return {std::move(line), status};
    }

    // An exception inside a DLL's initialisation is that DLL's; one that comes
    // back unhandled elsewhere is kept with its module and function.
    static void NoteException(ProcessRecord& record, const DEBUG_EVENT& event) {
        if (record.initWatch.NoteException(event) || event.u.Exception.dwFirstChance) return;
        const EXCEPTION_RECORD& exception = event.u.Exception.ExceptionRecord;
        auto address = reinterpret_cast<DWORD64>(exception.ExceptionAddress);
        std::wstring function;
        record.symbols.FunctionAt(address, function);
        record.unhandled.push_back({exception.ExceptionCode, record.initWatch.ModuleAt(address), function});
    }

    std::wstring OnProcessCreated(const DEBUG_EVENT& event) {
        const CREATE_PROCESS_DEBUG_INFO& info = event.u.CreateProcessInfo;
        std::wstring path = NameOfDeliveredFile(info.hFile);
        trace_.modulePaths.push_back(path);
        ProcessRecord record{info.hProcess, path, SymbolSession(info.hProcess, &symbols_),
                             DllInitWatch(info.hProcess, trace_.watchInitialisations), {},
                             ReadLoaderSearch(info.hProcess, path)};
        record.initWatch.ThreadCreated(event.dwThreadId, info.hThread);
        record.initWatch.ImageMapped(info.lpBaseOfImage, path);
        record.symbols.ModuleLoaded(path, reinterpret_cast<DWORD64>(info.lpBaseOfImage));
        processes_.insert_or_assign(event.dwProcessId, std::move(record));
        watchedProcessId_ = event.dwProcessId;
        return FormatToString(kProcessCreatedRoom, L"Создан процесс %s (id: 0x%X)", path, event.dwProcessId);
    }

    std::wstring OnProcessExited(const DEBUG_EVENT& event) {
        DWORD exitCode = event.u.ExitProcess.dwExitCode;
        ProcessRecord* record = Find(event.dwProcessId);
        std::wstring path;
        // Wine cannot read the image of an exiting process, and Windows may fail too.
        if (!ProcessImagePath(event.dwProcessId, path) && record) path = record->imagePath;
        trace_.lastExitCode = exitCode;
        // Its files are unmapped now, as at an unload.
        trace_.moduleFacts.WaitForAll();
        std::wstring line = FormatToString(kProcessExitRoom, L"Процесс %s уничтожен с кодом 0x%X", path, exitCode);
        if (record) trace_.processOutcomes.push_back(Outcome(event.dwProcessId, *record, exitCode));
        processes_.erase(event.dwProcessId);
        return line;
    }

    // A start the loader refused is explained from the files on disk, as they are now.
    static ProcessOutcome Outcome(DWORD processId, ProcessRecord& record, DWORD exitCode) {
        ProcessOutcome outcome{processId, record.imagePath, exitCode, record.initWatch.Finish(),
                               std::move(record.unhandled), {}};
        outcome.machine = record.loaderSearch.machine;
        if (IsImportFailureStatus(exitCode))
            outcome.importProblems = FindImportProblems(record.imagePath, record.loaderSearch);
        return outcome;
    }

    std::wstring OnDllLoaded(const DEBUG_EVENT& event) {
        const LOAD_DLL_DEBUG_INFO& info = event.u.LoadDll;
        std::wstring path = NameOfDeliveredFile(info.hFile);
        if (!path.empty()) {
            if (ProcessRecord* record = Find(event.dwProcessId)) {
                record->symbols.ModuleLoaded(path, reinterpret_cast<DWORD64>(info.lpBaseOfDll));
                record->initWatch.DllLoaded(info.lpBaseOfDll, path);
            }
            std::vector<std::wstring>& known = trace_.modulePaths;
            if (std::find(known.begin(), known.end(), path) == known.end()) {
                known.push_back(path);
                unloadTable_.push_back({Low32(info.lpBaseOfDll), path});
            }
            // The line needs only the name: the facts are read beside the debuggee.
            trace_.moduleFacts.Request(path);
            std::wstring folded = path;
            FoldPath(folded);
            ShowModuleRow(path, folded);
            path = std::move(folded);
        }
        return FormatToString(kDllLineRoom, L"Загрузка %s (base: 0x%X, process: 0x%X, thread: 0x%X)", path,
                              info.lpBaseOfDll, event.dwProcessId, event.dwThreadId);
    }

    std::wstring OnDllUnloaded(const DEBUG_EVENT& event) {
        const void* base = event.u.UnloadDll.lpBaseOfDll;
        if (ProcessRecord* record = Find(event.dwProcessId)) {
            record->symbols.ModuleUnloaded(reinterpret_cast<DWORD64>(base));
            record->initWatch.DllUnloaded(base);
        }
        // The entry recorded last for the address: distinct DLLs loaded one after
        // another at the same address (copies of one file) each name themselves.
        std::wstring path;
        auto recorded = std::find_if(unloadTable_.rbegin(), unloadTable_.rend(),
                                     [&](const UnloadEntry& entry) { return entry.base == Low32(base); });
        if (recorded != unloadTable_.rend()) path = recorded->path;
        // The debuggee may write or delete the file as soon as it runs on: the
        // reader must be done with it (with every file, when it is not known).
        if (path.empty()) trace_.moduleFacts.WaitForAll();
        else trace_.moduleFacts.Settle(path);
        FoldPath(path);
        return FormatToString(kDllLineRoom, L"Выгрузка %s (base: 0x%X, process: 0x%X, thread: 0x%X)", path, base,
                              event.dwProcessId, event.dwThreadId);
    }

    // Read from the process that sent the string, never from another one.
    std::wstring OnDebugString(const DEBUG_EVENT& event) {
        const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
        ProcessRecord* record = Find(event.dwProcessId);
        std::wstring text = record ? DebugStringText(record->process, info) : std::wstring();
        // Printed inside a DLL's initialisation, it may tell why the DLL refused.
        if (record) record->initWatch.NoteDebugString(event.dwThreadId, text);
        return FormatToString(info.nDebugStringLength + kDebugStringLineExtra, L"Получена отладочная информация: %s",
                              text);
    }

    ProcessRecord* Find(DWORD processId) {
        auto found = processes_.find(processId);
        return found == processes_.end() ? nullptr : &found->second;
    }

    LaunchTrace& trace_;
    RunSymbols& symbols_;
    std::map<DWORD, ProcessRecord> processes_;
    std::vector<UnloadEntry> unloadTable_;
    std::deque<PendingRow> pendingRows_;
    ULONGLONG lastFill_ = 0;
    DWORD watchedProcessId_ = 0;
    bool readAheadBegun_ = false;
    DWORD status_ = DBG_CONTINUE;
};

}  // namespace

void LaunchTrace::RunDebugLoop() {
    // Prepared while the program is created and mapped; outlives every process's session.
    RunSymbols symbols;
    WriteLogLine(kTitleLine);
    WriteOsLine();
    PROCESS_INFORMATION launched = LaunchTarget(*this);
    UniqueHandle launchedProcess(launched.hProcess);
    UniqueHandle launchedThread(launched.hThread);
    WriteLogLine(FormatToString(kWatchLineRoom, L"Наблюдение за загрузкой процесса %s", targetPath));
    moduleFacts.Request(targetPath);
    modulePaths.push_back(targetPath);
    EventLoop loop(*this, symbols);
    // The chosen executable's row shows its directory as chosen, not folded.
    loop.ShowModuleRow(targetPath, targetPath);

    loop.Run();
    loop.DetachSurvivors();
    // A stopped run writes nothing more; the trace's end paints what it showed.
    if (RunStopRequested()) return;
    loop.FillAllRows();
    // From here on the report shows the files as they are now.
    moduleFacts.RunEnded();
    // The views paint the rest beside the closing sections, Notepad's start and
    // the upload; the trace's end waits for them.
    WriteLogLine(L"Отладка завершена");
    WriteDesktopHeapInfo();
    WriteAppInitDlls();
    WriteProcessInventory();
    WriteLoadedModules();
    WriteVerdict();
}
