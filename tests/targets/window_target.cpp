// The program that the window tests run: it has a version resource, loads
// plain_helper.dll and then a second copy of it named PLAIN_HELPER.DLL from a
// subfolder, runs a second thread that says something, and, when the tests
// have created the event "KorvaneWindowTestHold", waits until it is signalled.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kHoldTimeoutMs = 60000;  // never outlives a stuck test by much
constexpr DWORD kWorkerExitCode = 5;

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

DWORD WINAPI SaySomething(void*) {
    OutputDebugStringW(L"window_target: worker");
    return kWorkerExitCode;
}

}  // namespace

int wmain() {
    OutputDebugStringW(L"window_target: first");
    HMODULE helper = LoadLibraryW((OwnFolder() + L"plain_helper.dll").c_str());
    if (helper) FreeLibrary(helper);
    HMODULE twin = LoadLibraryW((OwnFolder() + L"window_twin\\PLAIN_HELPER.DLL").c_str());
    if (twin) FreeLibrary(twin);
    HANDLE worker = CreateThread(nullptr, 0, SaySomething, nullptr, 0, nullptr);
    if (worker) {
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
    }
    HANDLE hold = OpenEventW(SYNCHRONIZE, FALSE, L"KorvaneWindowTestHold");
    if (hold) {
        WaitForSingleObject(hold, kHoldTimeoutMs);
        CloseHandle(hold);
    }
    OutputDebugStringW(L"window_target: last");
    return 0;
}
