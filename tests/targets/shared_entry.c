/* A DLL whose entry point lies in a section shared by every process that maps
   the file (not copy-on-write): a byte written there by a debugger would be
   written into all of them. Built without the C runtime, so that the entry is
   this function. */
#include <windows.h>

/* BOOL SharedEntry(HINSTANCE, DWORD, LPVOID): returns TRUE. */
__asm__(".section .shared,\"xs\"\n"
        ".globl SharedEntry\n"
        "SharedEntry:\n\t"
        "movl $1, %eax\n\t"
        "ret\n\t"
        ".text");

__declspec(dllexport) int SharedEntryValue(void) { return 0; }
