// ChooseExecutable: the open-file dialog for the executable to watch.
#include "app/choose_executable.h"

#include <commdlg.h>

bool ChooseExecutable(HWND owner, std::wstring& targetPath) {
    constexpr DWORD kPathChars = 260;
    wchar_t file[kPathChars] = {};
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"Executable files (*.exe)\0*.exe\0";
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = file;
    dialog.nMaxFile = kPathChars;
    dialog.lpstrTitle = L"Выбор файла";
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_EXPLORER | OFN_ENABLESIZING | OFN_FORCESHOWHIDDEN;
    // A path too long for the buffer fails the call but leaves the needed size in
    // the buffer's first characters: only a successful call with a path counts.
    BOOL chosen = GetOpenFileNameW(&dialog);
    if (!chosen || file[0] == L'\0') return false;
    targetPath = file;
    return true;
}
