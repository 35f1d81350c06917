// Ends as a .NET application host ends when no .NET runtime of the version its
// program asks for is installed: the host's message on the error stream and
// its own exit code, FrameworkMissingFailure (0x80008096).
#include <windows.h>

#include <cstdio>

int wmain() {
    std::fputs("You must install or update .NET to run this application.\n", stderr);
    ExitProcess(0x80008096);
}
