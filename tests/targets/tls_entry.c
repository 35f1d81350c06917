/* A DLL whose only TLS callback is its entry point. The loader calls it first
   as the TLS callback (its result is ignored), then as DllMain, which refuses
   the initialisation. Built without the C runtime, so that nothing else of
   the loader's calls stands between the two. */
#include <windows.h>

ULONG _tls_index = 0;
static LONG g_attachCalls = 0;

BOOL WINAPI TlsEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    return InterlockedIncrement(&g_attachCalls) == 1;
}

PIMAGE_TLS_CALLBACK g_tlsCallbacks[] = {(PIMAGE_TLS_CALLBACK)(void*)TlsEntry, NULL};
const IMAGE_TLS_DIRECTORY64 _tls_used = {0, 0, (ULONGLONG)&_tls_index, (ULONGLONG)g_tlsCallbacks, 0, 0};

__declspec(dllexport) int TlsEntryValue(void) { return 1; }
