// Shows each kind of event a start can have: a DLL loaded and freed, a thread
// that ends with code 0x2A, debug strings (ASCII, Cyrillic in code page 1251,
// wide Cyrillic, 400 characters), an exception that it handles itself, exit code 7.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kOwnException = 0xE0000001;
constexpr DWORD kWorkerExitCode = 0x2A;
bool ownExceptionSeen = false;

LONG CALLBACK HandleOwnException(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode != kOwnException) return EXCEPTION_CONTINUE_SEARCH;
    ownExceptionSeen = true;
    return EXCEPTION_CONTINUE_EXECUTION;
}

DWORD WINAPI Worker(void*) {
    OutputDebugStringA("trace_events: worker");
    return kWorkerExitCode;
}

}  // namespace

int wmain() {
    OutputDebugStringA("trace_events: start\n");
    HMODULE helper = LoadLibraryW(L"plain_helper.dll");
    if (helper) FreeLibrary(helper);
    HANDLE worker = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
    if (worker) {
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
    }
    OutputDebugStringA("\xcf\xf0\xe8\xe2\xe5\xf2 ANSI \xa8\xb8");  // "Привет ANSI Ёё" in code page 1251
    OutputDebugStringW(L"Привет wide Ёё");
    std::string longText;
    for (int i = 0; i < 40; ++i) longText += "0123456789";
    OutputDebugStringA(longText.c_str());
    AddVectoredExceptionHandler(1, HandleOwnException);
    RaiseException(kOwnException, 0, 0, nullptr);
    OutputDebugStringA(ownExceptionSeen ? "trace_events: handled by itself" : "trace_events: not handled");
    return 7;
}
