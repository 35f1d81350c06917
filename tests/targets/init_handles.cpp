// A DLL whose DllMain raises an access violation and handles it itself (a
// vectored handler continues after it), then succeeds.
#include <windows.h>

namespace {

LONG CALLBACK ContinueAfterOwnRaise(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
                   info->ExceptionRecord->ExceptionFlags == 0
               ? EXCEPTION_CONTINUE_EXECUTION
               : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

extern "C" __declspec(dllexport) int InitHandlesValue() { return 0; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        void* handler = AddVectoredExceptionHandler(1, ContinueAfterOwnRaise);
        RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
        RemoveVectoredExceptionHandler(handler);
    }
    return TRUE;
}
