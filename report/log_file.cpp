// The log of a run: where it lives, opening it, the writing rule, and handing it to Notepad.
#include "report/log_file.h"

#include <windows.h>
#include <shellapi.h>

#include "base/format_bounded.h"
#include "report/split_path.h"
#include "watch/launch_trace.h"

std::wstring LogFilePath() {
    wchar_t self[kPathChars] = {};
    GetModuleFileNameW(nullptr, self, kPathChars);
    wchar_t directory[kPathChars];
    wchar_t name[kPathChars];
    SplitPath(self, directory, name);
    return FormatToString(kPathChars, L"%szar.log", directory);
}

void LaunchTrace::OpenLog() {
    log.Open(LogFilePath());
}

void LaunchTrace::WriteLogLine(std::wstring_view text) {
    log.WriteLine(text);
}

namespace {

// The system's Notepad by its full path: a bare "notepad.exe" is looked for
// beside zar.exe first, where a planted program would run with Korvane's rights.
std::wstring SystemNotepadPath() {
    wchar_t folder[kPathChars] = {};
    UINT length = GetSystemDirectoryW(folder, kPathChars);
    if (length == 0 || length >= kPathChars) return {};
    return FormatToString(kPathChars, L"%s\\notepad.exe", folder);
}

}  // namespace

void LaunchTrace::CloseAndShowLog() {
    log.Close();
    std::wstring path = LogFilePath();
    std::wstring notepad = SystemNotepadPath();
    if (!notepad.empty()) ShellExecuteW(nullptr, L"open", notepad.c_str(), path.c_str(), nullptr, SW_SHOWDEFAULT);
}
