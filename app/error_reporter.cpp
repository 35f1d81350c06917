// ReportErrorAndExit: the fatal error box, then the end of the process with the error code.
#include "app/error_reporter.h"

#include <windows.h>

#include "base/format_bounded.h"
#include "base/handles.h"

namespace {

// The system's text for the code in the user's language; empty when it has none.
UniqueLocalMemory SystemErrorText(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    return UniqueLocalMemory(text);
}

// Shows the box; the system text and the message are freed when it returns.
void ShowErrorBox(DWORD code, const std::wstring& operation) {
    UniqueLocalMemory systemText = SystemErrorText(code);
    const wchar_t* reason = systemText ? static_cast<const wchar_t*>(systemText.get()) : L"";
    std::size_t chars = wcslen(reason) + operation.size() + 40;
    UniqueLocalMemory message(LocalAlloc(LMEM_ZEROINIT, chars * sizeof(wchar_t)));
    if (!message) return;
    auto* buffer = static_cast<wchar_t*>(message.get());
    FormatBounded(buffer, LocalSize(message.get()) / sizeof(wchar_t), L"%s failed with error 0x%X: %s", operation, code,
                  reason);
    MessageBoxW(nullptr, buffer, L"Error", MB_OK);
}

}  // namespace

void ReportErrorAndExit(const std::wstring& operation, DWORD code) {
    ShowErrorBox(code, operation);
    ExitProcess(code);
}
