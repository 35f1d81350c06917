// The desktop heap block (with its size check) and the AppInit_DLLs block of the
// log, both showing the raw registry value under a fixed heading.
#include "diag/registry_checks.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

#include "base/format_bounded.h"
#include "base/handles.h"
#include "diag/shared_section.h"
#include "watch/launch_trace.h"

namespace {

constexpr wchar_t kSubSystemsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems";
constexpr wchar_t kWindowsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr std::size_t kWarningChars = 1000;

// A value may be changed between the size query and the read, or be of any type:
// the buffer keeps one zero character beyond the data we ask for.
std::wstring ReadValueData(HKEY key, const wchar_t* valueName, DWORD byteCount) {
    std::wstring text(byteCount / sizeof(wchar_t) + 1, L'\0');
    DWORD readBytes = byteCount;
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &readBytes) !=
        ERROR_SUCCESS) {
        return {};
    }
    // An odd last byte is half a character: it is dropped.
    text.resize(std::min<std::size_t>(readBytes, byteCount) / sizeof(wchar_t));
    return text.substr(0, std::wstring_view(text).find(L'\0'));
}

}  // namespace

std::wstring ReadHklmText(const wchar_t* keyPath, const wchar_t* valueName) {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
    DWORD byteCount = 0;
    if (RegQueryValueExW(key.get(), valueName, nullptr, nullptr, nullptr, &byteCount) != ERROR_SUCCESS) return {};
    if (byteCount == 0) return {};
    return ReadValueData(key.get(), valueName, byteCount);
}

std::wstring ReadSubSystemsWindows() {
    return ReadHklmText(kSubSystemsKey, L"Windows");
}

std::wstring ReadAppInitDlls() {
    return ReadHklmText(kWindowsKey, L"AppInit_DLLs");
}

std::optional<int> SmallDesktopHeapKb(const std::wstring& subSystemsWindows) {
    std::optional<SharedSectionSizes> sizes = FindSharedSection(subSystemsWindows);
    if (!sizes || !DesktopHeapTooSmall(sizes->third)) return std::nullopt;
    return sizes->third;
}

void LaunchTrace::WriteDesktopHeapInfo() {
    std::wstring value = ReadSubSystemsWindows();
    WriteLogLine(
        L"\nHeap info: HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems\t\t\t\n"
        L"---------------------------------------------------------------------------");
    WriteLogLine(value);
    std::optional<int> heapKb = SmallDesktopHeapKb(value);
    if (!heapKb) return;
    WriteLogLine(FormatToString(kWarningChars,
                                L"ВНИМАНИЕ!!! Значение Desktop Heap = %d - недостаточно для нормальной работы.\t\t\t\t \n"
                                L"Рекомендуется увеличить его до 512",
                                *heapKb));
}

void LaunchTrace::WriteAppInitDlls() {
    std::wstring value = ReadAppInitDlls();
    WriteLogLine(
        L"\nAppInit_DLLs: HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs\t\t\t\n"
        L"------------------------------------------------------------------------------------");
    WriteLogLine(value);
}
