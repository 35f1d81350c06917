// OS identification: the product name table, the OS line of the log and the
// version numbers of the upload, all from GetVersionExW.
#include "diag/os_version.h"

#include <cwchar>
#include <string_view>

#include "base/format_bounded.h"
#include "watch/launch_trace.h"

namespace {

constexpr std::size_t kOsLineChars = 1000;
constexpr std::size_t kVersionTripleChars = 20;
constexpr WORD kSuitePersonal = 0x0200;  // VER_SUITE_PERSONAL: XP Home Edition

// A failed query leaves the record zero-filled, so the numbers read as 0.0.0.
OSVERSIONINFOEXW QueryVersion() {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
    return version;
}

const wchar_t* WindowsName(const OSVERSIONINFOEXW& v) {
    const bool workstation = v.wProductType == VER_NT_WORKSTATION;
    if (v.dwMajorVersion == 6) {
        switch (v.dwMinorVersion) {
            case 0: return workstation ? L"Windows Vista " : L"Windows Server 2008 ";
            case 1: return workstation ? L"Windows 7 " : L"Windows Server 2008 R2 ";
            case 2: return workstation ? L"Windows 8" : L"Windows Server 2012";
            default: return L"";
        }
    }
    if (v.dwMajorVersion == 5 && v.dwMinorVersion == 1) {
        return (v.wSuiteMask & kSuitePersonal) ? L"Windows XP Home Edition" : L"Windows XP Professional";
    }
    return L"";
}

}  // namespace

static_assert(sizeof(OSVERSIONINFOEXW) == 284, "the version record the system fills");

void ComposeOsName(OsDescription& os) {
    os.productName = L"Microsoft ";
    os.productName += WindowsName(os.version);
}

std::wstring FormatOsLine(const OsDescription& os) {
    const OSVERSIONINFOEXW& v = os.version;
    // The record may come from anywhere: never read past its 128 characters.
    std::wstring_view servicePack(v.szCSDVersion, wcsnlen(v.szCSDVersion, std::size(v.szCSDVersion)));
    return FormatToString(kOsLineChars, L"Операционная система: %s %s (%d.%d.%d)\n", os.productName, servicePack,
                          v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber);
}

std::wstring GetOsVersionTriple() {
    OSVERSIONINFOEXW v = QueryVersion();
    return FormatToString(kVersionTripleChars, L"%d.%d.%d", v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber);
}

void LaunchTrace::WriteOsLine() {
    OsDescription os;
    os.version = QueryVersion();
    ComposeOsName(os);
    // The line itself ends in "\n", so an empty line follows it in the log.
    WriteLogLine(FormatOsLine(os));
}
