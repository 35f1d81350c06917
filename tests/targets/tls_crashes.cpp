// A DLL whose TLS callback raises an access violation at the process's attach;
// its DllMain succeeds.
#include <windows.h>

namespace {

void NTAPI CrashingCallback(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_PROCESS_ATTACH) *static_cast<volatile int*>(nullptr) = 1;
}

}  // namespace

extern "C" __attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK g_crashingCallback = CrashingCallback;

extern "C" __declspec(dllexport) int TlsCrashesValue() { return 3; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
