// Stays alive until it is killed, after signalling the event named by its first
// argument (so that a test knows its parameters are in place). Anything after
// the name only lengthens the command line.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) {
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
        if (ready) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }
    Sleep(INFINITE);
    return 0;
}
