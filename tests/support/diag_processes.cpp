// Starting idle_wait.exe with an exact command line, and killing it again.
#include "tests/support/diag_processes.h"

namespace {

constexpr DWORD kTargetReadyTimeoutMs = 20000;
constexpr DWORD kTargetKillTimeoutMs = 10000;

std::wstring UniqueEventName() {
    static int started = 0;
    return L"KorvaneIdleReady-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++started);
}

}  // namespace

IdleProcess::IdleProcess(const std::wstring& imagePath, std::size_t commandLineChars) {
    eventName_ = UniqueEventName();
    commandLine_ = L"\"" + imagePath + L"\" " + eventName_;
    if (commandLine_.size() < commandLineChars) {
        commandLine_ += L' ';
        commandLine_.append(commandLineChars - commandLine_.size(), L'x');
    }
    UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName_.c_str()));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring mutableLine = commandLine_;
    if (!CreateProcessW(imagePath.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
        return;
    }
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
    id_ = info.dwProcessId;
    running_ = WaitForSingleObject(ready.get(), kTargetReadyTimeoutMs) == WAIT_OBJECT_0;
}

IdleProcess::~IdleProcess() {
    if (!process_) return;
    TerminateProcess(process_.get(), 0);
    WaitForSingleObject(process_.get(), kTargetKillTimeoutMs);
}
