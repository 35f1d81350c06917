// Imports version.dll and dbghelp.dll statically, so the system resolves them at
// start through the ordinary DLL search, which begins in the program's folder.
#include <windows.h>
#include <dbghelp.h>

int wmain() {
    DWORD handle = 0;
    GetFileVersionInfoSizeW(L"C:\\windows\\system32\\kernel32.dll", &handle);
    SymGetOptions();
    return 0;
}
