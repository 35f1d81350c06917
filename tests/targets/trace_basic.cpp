// Loads and frees plain_helper.dll, writes debug strings, raises an exception
// that it handles itself, and exits with code 7.
#include <windows.h>

namespace {

constexpr DWORD kOwnException = 0xE0000001;

LONG CALLBACK HandleOwnException(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == kOwnException ? EXCEPTION_CONTINUE_EXECUTION
                                                                 : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

int wmain() {
    OutputDebugStringA("trace_basic: start\n");
    HMODULE helper = LoadLibraryW(L"plain_helper.dll");
    OutputDebugStringW(L"trace_basic: helper loaded");
    if (helper) FreeLibrary(helper);
    AddVectoredExceptionHandler(1, HandleOwnException);
    RaiseException(kOwnException, 0, 0, nullptr);
    OutputDebugStringA("trace_basic: done");
    return 7;
}
