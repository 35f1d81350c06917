// The entry point: safe DLL search, the main window and the message loop.
#include <windows.h>

#include "app/main_window.h"
#include "base/system_library.h"
#include "watch/symbol_session.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    RestrictDllSearchToSystemFolder();
    if (!CreateMainWindow(instance, showCommand)) return 0;
    // Read while the user chooses a program, so that no run waits for it.
    PrepareSystemSymbols();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
