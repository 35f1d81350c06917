// Paths from what debug events carry: a file handle or a process id.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// A drive name ("C:") and the device name the system gives for it ("\Device\HarddiskVolume1").
struct DriveDevice {
    std::wstring drive;
    std::wstring device;
};

// The drives of the system with their device names, in the system's order.
std::vector<DriveDevice> SystemDriveDevices();

// Turns a mapped-file name into a drive-letter path: "\??\C:\x" gives "C:\x",
// "\??\UNC\server\share\x" gives "\\server\share\x", and a "\Device\..." name
// whose device is one of the drives (followed by a backslash, letters A-Z
// compared without case) gives that drive. Anything else is kept as it is,
// other "\??\" names too ("\??\Volume{GUID}\x": a volume without a drive letter).
// The result holds at most 259 characters.
std::wstring DrivePathFromMappedName(std::wstring_view mapped, const std::vector<DriveDevice>& drives);

// Writes the path of the file into path (at least 260 characters, set to ""
// by the caller); false when no view of the file could be mapped (an empty
// file, for one). The handle is not closed.
bool FileNameFromHandle(HANDLE file, wchar_t* path);

// The path of the main module of a running process, cut to 259 characters;
// false and an empty text when it cannot be read.
bool ProcessImagePath(DWORD processId, std::wstring& path);
