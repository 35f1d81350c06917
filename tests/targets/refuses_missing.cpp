// A DLL that refuses its initialisation after LoadLibrary found nothing for
// the helper it looks for, saying so in its debug output on two lines.
#include <windows.h>

extern "C" __declspec(dllexport) int RefusesMissingValue() { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    OutputDebugStringA("refuses_missing: looking for\r\nits helper\n");
    return LoadLibraryW(L"korvane_absent_helper.dll") != nullptr;
}
