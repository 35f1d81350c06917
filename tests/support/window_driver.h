// Operates zar.exe's window from the test process the way a user would: the
// menu commands, the open-file dialog "Выбор файла", and reading the list view
// and the tree view back across the process boundary.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

constexpr DWORD kWindowAppearTimeoutMs = 30000;
constexpr DWORD kDialogAppearTimeoutMs = 15000;
constexpr DWORD kDialogCloseTimeoutMs = 15000;
constexpr DWORD kRunEndTimeoutMs = 60000;
constexpr DWORD kProcessExitTimeoutMs = 15000;

// A top-level window of that process with that class and exact title (any title when null), or null.
HWND FindProcessWindow(DWORD processId, const wchar_t* className, const wchar_t* title);
// The Notepad windows on a zar.log started by that process: other programs,
// such as a zar.exe run by tests of another folder, open their own at the same time.
std::vector<HWND> LogNotepadsStartedBy(DWORD parent);
// The first of them to appear; null on timeout.
HWND WaitForLogNotepadStartedBy(DWORD parent, DWORD timeoutMs);

struct ListColumn {
    std::wstring title;
    int width = 0;
};

struct TreeItem {
    std::wstring text;
    LPARAM param = 0;
    std::vector<TreeItem> children;
};

class ZarWindow {
public:
    // Starts the test build of zar.exe and waits for its main window.
    ZarWindow();
    // The same from another copy of the program.
    explicit ZarWindow(const std::wstring& path);
    // Ends zar.exe if it still runs, and closes the Notepad windows it opened.
    ~ZarWindow();
    ZarWindow(const ZarWindow&) = delete;
    ZarWindow& operator=(const ZarWindow&) = delete;

    bool Started() const { return mainWindow_ != nullptr; }
    HWND MainWindow() const { return mainWindow_; }
    HWND Panes() const { return panes_; }
    HWND ListView() const { return listView_; }
    HWND TreeView() const { return treeView_; }
    HANDLE Process() const { return process_.hProcess; }

    // Posts a menu command, as choosing the menu item does.
    void PostCommand(WORD command) const;
    // A top-level window of zar.exe with that class and exact title, or null.
    HWND FindOwnWindow(const wchar_t* className, const wchar_t* title) const;
    HWND WaitForOwnWindow(const wchar_t* className, const wchar_t* title, DWORD timeoutMs) const;
    // "Файл" until the dialog "Выбор файла" shows (a run still ending refuses it); null on timeout.
    HWND OpenFileDialog(DWORD timeoutMs = kDialogAppearTimeoutMs) const;
    // Types the path into the dialog's file name and presses "Open"; true once the dialog has gone.
    bool ConfirmFile(HWND dialog, const std::wstring& path) const;
    bool CancelDialog(HWND dialog) const;
    // OpenFileDialog and ConfirmFile.
    bool ChooseFile(const std::wstring& path) const;
    // The Notepad window that zar.exe opened on zar.log at the end of a run; null on timeout.
    HWND WaitForLogInNotepad(DWORD timeoutMs = kRunEndTimeoutMs) const;
    void CloseOwnNotepads() const;
    // True and the exit code once zar.exe has ended.
    bool WaitForExit(DWORD timeoutMs, DWORD& exitCode) const;

    // Black pixels of the "Файл" item on the screen: its text is black while
    // the item is enabled and grey while it is greyed.
    int BlackPixelsOnFileMenuItem() const;

    std::vector<ListColumn> Columns() const;
    std::vector<std::vector<std::wstring>> Rows() const;
    std::vector<TreeItem> Tree() const;

private:
    PROCESS_INFORMATION process_{};
    HWND mainWindow_ = nullptr;
    HWND panes_ = nullptr;
    HWND listView_ = nullptr;
    HWND treeView_ = nullptr;
};

// The text that a Notepad window shows.
std::wstring NotepadText(HWND notepad);
// The text of the longest static control of a dialog (a message box's message).
std::wstring MessageBoxText(HWND box);
// Saves the whole screen as a PNG in build/screenshots.
bool SaveScreenshot(const std::wstring& fileName);
