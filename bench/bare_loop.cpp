// The reference debug loop: the same launch as Korvane's, and per event only
// what any debugger must do (close the file handles it is given).
#include "bench/bare_loop.h"

BareLoopResult RunBareLoop(const std::wstring& application, const std::wstring& commandLine) {
    BareLoopResult result;
    std::wstring writable = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), writable.data(), nullptr, nullptr, FALSE, DEBUG_PROCESS, nullptr, nullptr,
                        &startup, &process))
        return result;
    result.launched = true;
    int alive = 0;
    DEBUG_EVENT event{};
    while (WaitForDebugEvent(&event, INFINITE)) {
        ++result.events;
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            ++alive;
            if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            ++result.dllLoads;
            if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            --alive;
            break;
        case EXCEPTION_DEBUG_EVENT:
            status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (alive == 0) break;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}
