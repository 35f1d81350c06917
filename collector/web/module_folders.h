// Which module folders a user without administrator rights can write to: a
// DLL loaded from there may have been planted by anything the user ran.
#pragma once
#include <string_view>

namespace collector {

// The folder as the upload gives it, folded ("%SYSTEM%\drivers") or not
// ("C:\Windows\System32"). Protected are only the system, Windows and program
// files folders (placeholders %SYSTEM%, %SYSTEM_X86%, %WIN%, %PROGRAMFILES%,
// %PROGRAMFILES_X86%, %PROGRAMFILES_COMMON%, %PROGRAMFILES_COMMON_X86% and
// the all-users Start menu folders %PROGRAMS%, %STARTMENU%, %STARTUP%, or
// X:\Windows, X:\Program Files, X:\Program Files (x86) written out), minus the
// subfolders of the Windows folder that every user may write to (Temp, Tasks,
// tracing, spool\drivers\color, ...). Everything else is user-writable: the
// profile and its folders (%USER%, %USER_*%, %LOCAL_APPDATA%, %MY_DOCUMENTS%),
// the all-users data, desktop and documents (%APPDATA%, %DESKTOP%,
// %DOCUMENTS%), C:\Users\..., other folders and drives. An empty folder
// (not known) is not marked.
bool IsUserWritableFolder(std::string_view folder);

}  // namespace collector
