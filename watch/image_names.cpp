// Naming of image files and processes: the file behind a handle from the
// name of a one-byte view of it, and the main module of a process by its id.
#include "watch/image_names.h"

#include <psapi.h>

#include <cwchar>

#include "base/format_bounded.h"
#include "base/handles.h"

namespace {

constexpr std::size_t kPathCapacity = MAX_PATH;  // terminator included
constexpr std::wstring_view kDosDevicePrefix = L"\\??\\";
constexpr std::wstring_view kDosUncPrefix = L"\\??\\UNC\\";

wchar_t AsciiUpper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool IsAsciiLetter(wchar_t c) {
    return AsciiUpper(c) >= L'A' && AsciiUpper(c) <= L'Z';
}

// "X:\..." after the DOS-device prefix: the only local form that has a drive
// letter. Other DOS-device names (a volume's "Volume{GUID}\...") have none.
bool IsDriveLetterPath(std::wstring_view name) {
    return name.size() >= 3 && IsAsciiLetter(name[0]) && name[1] == L':' && name[2] == L'\\';
}

// Only A to Z are folded: device names are ASCII, and that is all the system promises.
bool StartsWithIgnoringAsciiCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (AsciiUpper(text[i]) != AsciiUpper(prefix[i])) return false;
    }
    return true;
}

std::wstring Joined(std::wstring_view head, std::wstring_view tail) {
    return FormatToString(kPathCapacity, L"%s%s", head, tail);
}

}  // namespace

std::vector<DriveDevice> SystemDriveDevices() {
    std::vector<DriveDevice> drives;
    wchar_t roots[kPathCapacity] = {};
    DWORD length = GetLogicalDriveStringsW(kPathCapacity - 1, roots);
    if (length == 0 || length >= kPathCapacity) return drives;
    for (const wchar_t* root = roots; *root; root += std::wcslen(root) + 1) {
        const wchar_t drive[] = {root[0], L':', L'\0'};
        wchar_t device[kPathCapacity] = {};
        if (QueryDosDeviceW(drive, device, kPathCapacity) == 0) continue;
        std::size_t deviceLength = std::wcslen(device);
        if (deviceLength < kPathCapacity) drives.push_back({drive, std::wstring(device, deviceLength)});
    }
    return drives;
}

std::wstring DrivePathFromMappedName(std::wstring_view mapped, const std::vector<DriveDevice>& drives) {
    // Wine names every mapped file in the DOS-device form; Windows uses it for some volumes.
    if (mapped.starts_with(kDosUncPrefix)) return Joined(L"\\\\", mapped.substr(kDosUncPrefix.size()));
    if (mapped.starts_with(kDosDevicePrefix) && IsDriveLetterPath(mapped.substr(kDosDevicePrefix.size())))
        return Joined(L"", mapped.substr(kDosDevicePrefix.size()));
    for (const DriveDevice& drive : drives) {
        std::size_t n = drive.device.size();
        // The backslash right after the device keeps HarddiskVolume1 from matching HarddiskVolume10.
        if (n > 0 && StartsWithIgnoringAsciiCase(mapped, drive.device) && mapped.size() > n && mapped[n] == L'\\')
            return Joined(drive.drive, mapped.substr(n));
    }
    return Joined(L"", mapped);
}

bool FileNameFromHandle(HANDLE file, wchar_t* path) {
    DWORD sizeHigh = 0;
    DWORD sizeLow = GetFileSize(file, &sizeHigh);
    if (sizeLow == 0 && sizeHigh == 0) return false;  // an empty file cannot be mapped
    UniqueHandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 1, nullptr));
    if (!mapping) return false;
    UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 1));
    if (!view) return false;
    wchar_t mapped[kPathCapacity] = {};
    DWORD length = GetMappedFileNameW(GetCurrentProcess(), view.get(), mapped, kPathCapacity);
    if (length > 0) {
        std::wstring_view name(mapped, std::wcslen(mapped));
        // The DOS-device form (Wine's for every file) needs no drive list, which
        // costs a fifth of a millisecond to read at every DLL load.
        std::vector<DriveDevice> drives;
        if (!name.starts_with(kDosDevicePrefix)) drives = SystemDriveDevices();
        FormatBounded(path, kPathCapacity, L"%s", DrivePathFromMappedName(name, drives));
    }
    return true;
}

bool ProcessImagePath(DWORD processId, std::wstring& path) {
    path.assign(kPathCapacity, L'\0');
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    DWORD length = process ? GetModuleFileNameExW(process.get(), nullptr, path.data(), kPathCapacity) : 0;
    path.resize(std::wcslen(path.c_str()));
    if (length == 0) path.clear();
    return length != 0;
}
