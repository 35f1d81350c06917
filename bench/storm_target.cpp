// The benchmark's debuggee: produces N debug events of one kind, chosen on its
// command line, so that the cost of each kind can be measured:
//   storm dlls N <folder>   loads and frees <folder>\storm_<i>.dll, i < N (distinct files)
//   storm strings N         N debug strings
//   storm exceptions N      N first-chance exceptions that it handles itself
//   storm threads N         N threads, one after another
//   storm children N        N child processes (storm none 0), one after another
//   storm mixed N <folder>  N rounds of a string and an exception, a thread every 4th,
//                           a DLL of <folder> every 8th
//   storm realistic 0       a realistic start: 16 system DLLs, as a GUI program loads them
//   storm window 0          the realistic start, then its first window, whose moment of
//                           appearing (QueryPerformanceCounter) it writes to <own path>.shown
//   storm none 0            nothing
// A debugger launches a path without arguments, so a copy named
// storm-<kind>-<N>.exe takes them from its own name (DLLs from storm-dlls\ beside it).
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr DWORD kStormException = 0xE0000002;

LONG CALLBACK HandleStormException(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == kStormException ? EXCEPTION_CONTINUE_EXECUTION
                                                                   : EXCEPTION_CONTINUE_SEARCH;
}

DWORD WINAPI EmptyThread(LPVOID) { return 0; }

void LoadDlls(int count, const std::wstring& folder) {
    for (int i = 0; i < count; ++i) {
        std::wstring path = folder + L"\\storm_" + std::to_wstring(i) + L".dll";
        if (HMODULE module = LoadLibraryW(path.c_str())) FreeLibrary(module);
    }
}

void WriteStrings(int count) {
    for (int i = 0; i < count; ++i) OutputDebugStringA("storm: a debug string of ordinary length\n");
}

void RaiseExceptions(int count) {
    AddVectoredExceptionHandler(1, HandleStormException);
    for (int i = 0; i < count; ++i) RaiseException(kStormException, 0, 0, nullptr);
}

void StartThreads(int count) {
    for (int i = 0; i < count; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, EmptyThread, nullptr, 0, nullptr);
        if (!thread) continue;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

// A start as programs make it: per round a debug string and a handled
// exception, every fourth round a thread, every eighth a DLL loaded and freed.
void MixedRounds(int count, const std::wstring& folder) {
    AddVectoredExceptionHandler(1, HandleStormException);
    for (int i = 0; i < count; ++i) {
        WriteStrings(1);
        RaiseException(kStormException, 0, 0, nullptr);
        if (i % 4 == 0) StartThreads(1);
        if (i % 8 == 0) {
            std::wstring path = folder + L"\\storm_" + std::to_wstring(i / 8) + L".dll";
            if (HMODULE module = LoadLibraryW(path.c_str())) FreeLibrary(module);
        }
    }
}

void StartChildren(int count) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (int i = 0; i < count; ++i) {
        std::wstring commandLine = L"\"" + std::wstring(self) + L"\" none 0";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            continue;
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

void LoadRealisticSet() {
    const wchar_t* names[] = {L"user32.dll",  L"gdi32.dll",    L"comctl32.dll", L"ole32.dll",
                              L"oleaut32.dll", L"shell32.dll", L"shlwapi.dll",  L"advapi32.dll",
                              L"ws2_32.dll",  L"crypt32.dll",  L"wininet.dll",  L"version.dll",
                              L"winmm.dll",   L"imm32.dll",    L"uxtheme.dll",  L"setupapi.dll"};
    for (const wchar_t* name : names) LoadLibraryW(name);
}

std::wstring OwnPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

// The moment the window has been shown and painted: what a user waits for.
void ShowFirstWindow() {
    LoadRealisticSet();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"StormFirstWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"storm", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400,
                                  300, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) return;
    UpdateWindow(window);
    LARGE_INTEGER shown;
    QueryPerformanceCounter(&shown);
    std::string text = std::to_string(shown.QuadPart);
    HANDLE file = CreateFileW((OwnPath() + L".shown").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
    DestroyWindow(window);
}

// kind, count and DLL folder from a name such as C:\b\storm-dlls-300.exe.
bool ArgumentsFromOwnName(std::wstring& kind, int& count, std::wstring& folder) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    std::size_t slash = path.find_last_of(L'\\');
    folder = path.substr(0, slash) + L"\\storm-dlls";
    std::wstring name = path.substr(slash + 1);
    std::size_t first = name.find(L'-'), second = name.rfind(L'-');
    if (first == std::wstring::npos || second == first) return false;
    kind = name.substr(first + 1, second - first - 1);
    count = _wtoi(name.c_str() + second + 1);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring kind, folder;
    int count = 0;
    if (argc >= 3) {
        kind = argv[1];
        count = _wtoi(argv[2]);
        if (argc > 3) folder = argv[3];
    } else if (!ArgumentsFromOwnName(kind, count, folder)) {
        return 1;
    }
    if (kind == L"dlls") LoadDlls(count, folder);
    else if (kind == L"strings") WriteStrings(count);
    else if (kind == L"exceptions") RaiseExceptions(count);
    else if (kind == L"threads") StartThreads(count);
    else if (kind == L"children") StartChildren(count);
    else if (kind == L"mixed") MixedRounds(count, folder);
    else if (kind == L"realistic") LoadRealisticSet();
    else if (kind == L"window") ShowFirstWindow();
    return 0;
}
