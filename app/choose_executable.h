// The open-file dialog in which the user picks the executable to watch.
#pragma once
#include <windows.h>

#include <string>

// Shows the dialog "Выбор файла" owned by the window; true and the chosen full
// path when a file was chosen, false (path untouched) on cancel or failure.
bool ChooseExecutable(HWND owner, std::wstring& targetPath);
