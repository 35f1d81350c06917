// Operating zar.exe's window from the test process. Controls of another process
// only answer reads through buffers placed in that process (VirtualAllocEx).
#include "tests/support/window_driver.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <cwchar>
#include <set>

#include "base/handles.h"
#include "tests/support/test_files.h"

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kNotepadExitTimeoutMs = 5000;
constexpr DWORD kScreenshotTimeoutMs = 20000;
constexpr int kTextChars = 4096;

// One block of memory inside zar.exe: a control structure at its start and a
// text buffer after it.
class RemoteBlock {
public:
    static constexpr SIZE_T kTextOffset = 1024;

    explicit RemoteBlock(HANDLE process)
        : process_(process),
          address_(static_cast<char*>(VirtualAllocEx(process, nullptr, kTextOffset + kTextChars * sizeof(wchar_t),
                                                     MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}
    ~RemoteBlock() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    bool valid() const { return address_ != nullptr; }
    LPARAM Structure() const { return reinterpret_cast<LPARAM>(address_); }
    wchar_t* Text() const { return reinterpret_cast<wchar_t*>(address_ + kTextOffset); }

    template <class T>
    void Put(const T& value) const {
        SIZE_T done = 0;
        WriteProcessMemory(process_, address_, &value, sizeof(T), &done);
        wchar_t empty = L'\0';
        WriteProcessMemory(process_, Text(), &empty, sizeof(empty), &done);
    }
    template <class T>
    T Get() const {
        T value{};
        SIZE_T done = 0;
        ReadProcessMemory(process_, address_, &value, sizeof(T), &done);
        return value;
    }
    std::wstring GetText() const {
        std::wstring text(kTextChars, L'\0');
        SIZE_T done = 0;
        ReadProcessMemory(process_, Text(), text.data(), kTextChars * sizeof(wchar_t), &done);
        text[kTextChars - 1] = L'\0';
        text.resize(wcslen(text.c_str()));
        return text;
    }

private:
    HANDLE process_;
    char* address_;
};

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

DWORD ProcessOf(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return id;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> windows;
    EnumChildWindows(
        parent,
        [](HWND window, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// The file name Edit of the open-file dialog: inside the ComboBox with id 0x47C.
HWND FileNameEdit(HWND dialog) {
    for (HWND child : ChildWindows(dialog)) {
        if (ClassOf(child) == L"Edit" && GetDlgCtrlID(GetParent(child)) == 0x47C) return child;
    }
    for (HWND child : ChildWindows(dialog)) {
        if (ClassOf(child) == L"Edit") return child;
    }
    return nullptr;
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
    for (DWORD waited = 0; IsWindow(window); waited += kPollMs) {
        if (waited >= timeoutMs) return false;
        Sleep(kPollMs);
    }
    return true;
}

void ReadTreeLevel(const RemoteBlock& block, HWND tree, HTREEITEM first, std::vector<TreeItem>& level) {
    for (HTREEITEM item = first; item;
         item = reinterpret_cast<HTREEITEM>(
             SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
        TVITEMW query = {};
        query.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_PARAM;
        query.hItem = item;
        query.pszText = block.Text();
        query.cchTextMax = kTextChars;
        block.Put(query);
        TreeItem read;
        if (SendMessageW(tree, TVM_GETITEMW, 0, block.Structure())) {
            read.text = block.GetText();
            read.param = block.Get<TVITEMW>().lParam;
        }
        auto child =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
        ReadTreeLevel(block, tree, child, read.children);
        level.push_back(std::move(read));
    }
}

// Ids of the processes whose parent is the given process.
std::set<DWORD> ChildProcesses(DWORD parent) {
    std::set<DWORD> children;
    UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return children;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent) children.insert(entry.th32ProcessID);
    }
    return children;
}

}  // namespace

HWND FindProcessWindow(DWORD processId, const wchar_t* className, const wchar_t* title) {
    for (HWND window : TopLevelWindows()) {
        if (ProcessOf(window) != processId || ClassOf(window) != className) continue;
        if (title) {
            wchar_t text[512] = {};
            GetWindowTextW(window, text, 512);
            if (std::wstring(text) != title) continue;
        }
        return window;
    }
    return nullptr;
}

std::vector<HWND> LogNotepadsStartedBy(DWORD parent) {
    std::vector<HWND> notepads;
    std::set<DWORD> children = ChildProcesses(parent);
    for (HWND window : TopLevelWindows()) {
        if (ClassOf(window) != L"Notepad" || !children.count(ProcessOf(window))) continue;
        wchar_t title[512] = {};
        GetWindowTextW(window, title, 512);
        if (std::wstring(title).starts_with(L"zar.log")) notepads.push_back(window);
    }
    return notepads;
}

HWND WaitForLogNotepadStartedBy(DWORD parent, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += kPollMs) {
        std::vector<HWND> notepads = LogNotepadsStartedBy(parent);
        if (!notepads.empty()) return notepads.front();
        if (waited >= timeoutMs) return nullptr;
        Sleep(kPollMs);
    }
}

ZarWindow::ZarWindow() : ZarWindow(ZarUnderTestPath()) {}

ZarWindow::ZarWindow(const std::wstring& path) {
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process_)) {
        process_ = {};
        return;
    }
    for (DWORD waited = 0; waited < kWindowAppearTimeoutMs && !mainWindow_; waited += kPollMs) {
        HWND window = FindOwnWindow(L"FIX_0XC0000142", nullptr);
        // The views are there once the child dialog has been created and shown.
        HWND panes = window ? FindWindowExW(window, nullptr, L"#32770", nullptr) : nullptr;
        if (panes && IsWindowVisible(panes) && SendMessageW(GetDlgItem(panes, 1005), LVM_GETHEADER, 0, 0)) {
            HWND header = reinterpret_cast<HWND>(SendMessageW(GetDlgItem(panes, 1005), LVM_GETHEADER, 0, 0));
            if (SendMessageW(header, HDM_GETITEMCOUNT, 0, 0) == 5) {
                mainWindow_ = window;
                panes_ = panes;
                listView_ = GetDlgItem(panes, 1005);
                treeView_ = GetDlgItem(panes, 1011);
                break;
            }
        }
        Sleep(kPollMs);
    }
}

ZarWindow::~ZarWindow() {
    if (process_.hProcess) {
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, kProcessExitTimeoutMs);
        }
        CloseOwnNotepads();
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
}

void ZarWindow::PostCommand(WORD command) const {
    PostMessageW(mainWindow_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

HWND ZarWindow::FindOwnWindow(const wchar_t* className, const wchar_t* title) const {
    return FindProcessWindow(process_.dwProcessId, className, title);
}

HWND ZarWindow::WaitForOwnWindow(const wchar_t* className, const wchar_t* title, DWORD timeoutMs) const {
    for (DWORD waited = 0;; waited += kPollMs) {
        if (HWND window = FindOwnWindow(className, title)) return window;
        if (waited >= timeoutMs) return nullptr;
        Sleep(kPollMs);
    }
}

HWND ZarWindow::OpenFileDialog(DWORD timeoutMs) const {
    constexpr DWORD kRepostMs = 1000;
    HWND dialog = nullptr;
    for (DWORD waited = 0; !dialog && waited < timeoutMs; waited += kRepostMs) {
        PostCommand(32771);
        dialog = WaitForOwnWindow(L"#32770", L"Выбор файла", kRepostMs);
    }
    // Its file name field exists once the dialog has finished starting.
    for (DWORD waited = 0; dialog && !FileNameEdit(dialog); waited += kPollMs) {
        if (waited >= kDialogAppearTimeoutMs) return nullptr;
        Sleep(kPollMs);
    }
    return dialog;
}

bool ZarWindow::ConfirmFile(HWND dialog, const std::wstring& path) const {
    HWND edit = FileNameEdit(dialog);
    if (!edit) return false;
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    return WaitUntilGone(dialog, kDialogCloseTimeoutMs);
}

bool ZarWindow::CancelDialog(HWND dialog) const {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    return WaitUntilGone(dialog, kDialogCloseTimeoutMs);
}

bool ZarWindow::ChooseFile(const std::wstring& path) const {
    HWND dialog = OpenFileDialog();
    return dialog && ConfirmFile(dialog, path);
}

HWND ZarWindow::WaitForLogInNotepad(DWORD timeoutMs) const {
    return WaitForLogNotepadStartedBy(process_.dwProcessId, timeoutMs);
}

void ZarWindow::CloseOwnNotepads() const {
    for (HWND notepad : LogNotepadsStartedBy(process_.dwProcessId)) {
        UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, ProcessOf(notepad)));
        PostMessageW(notepad, WM_CLOSE, 0, 0);
        if (process && WaitForSingleObject(process.get(), kNotepadExitTimeoutMs) == WAIT_TIMEOUT) {
            TerminateProcess(process.get(), 1);
        }
    }
}

bool ZarWindow::WaitForExit(DWORD timeoutMs, DWORD& exitCode) const {
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    return GetExitCodeProcess(process_.hProcess, &exitCode) != FALSE;
}

int ZarWindow::BlackPixelsOnFileMenuItem() const {
    // "Файл" is the first item: it starts at the client area's left edge and is
    // narrower than this; the menu bar lies right above the client area.
    constexpr int kItemWidth = 45;
    constexpr BYTE kBlackest = 0x40;
    POINT origin = {0, 0};
    ClientToScreen(mainWindow_, &origin);
    const int height = GetSystemMetrics(SM_CYMENU);
    HDC screen = GetDC(nullptr);
    HDC copy = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kItemWidth, height);
    HGDIOBJ old = SelectObject(copy, bitmap);
    BitBlt(copy, 0, 0, kItemWidth, height, screen, origin.x, origin.y - height, SRCCOPY);
    int black = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < kItemWidth; ++x) {
            COLORREF color = GetPixel(copy, x, y);
            if (GetRValue(color) < kBlackest && GetGValue(color) < kBlackest && GetBValue(color) < kBlackest) ++black;
        }
    }
    SelectObject(copy, old);
    DeleteObject(bitmap);
    DeleteDC(copy);
    ReleaseDC(nullptr, screen);
    return black;
}

std::vector<ListColumn> ZarWindow::Columns() const {
    std::vector<ListColumn> columns;
    RemoteBlock block(process_.hProcess);
    if (!block.valid()) return columns;
    HWND header = reinterpret_cast<HWND>(SendMessageW(listView_, LVM_GETHEADER, 0, 0));
    int count = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        LVCOLUMNW query = {};
        query.mask = LVCF_TEXT | LVCF_WIDTH;
        query.pszText = block.Text();
        query.cchTextMax = kTextChars;
        block.Put(query);
        ListColumn column;
        if (SendMessageW(listView_, LVM_GETCOLUMNW, i, block.Structure())) {
            column.title = block.GetText();
            column.width = block.Get<LVCOLUMNW>().cx;
        }
        columns.push_back(column);
    }
    return columns;
}

std::vector<std::vector<std::wstring>> ZarWindow::Rows() const {
    std::vector<std::vector<std::wstring>> rows;
    RemoteBlock block(process_.hProcess);
    if (!block.valid()) return rows;
    HWND header = reinterpret_cast<HWND>(SendMessageW(listView_, LVM_GETHEADER, 0, 0));
    int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    int count = static_cast<int>(SendMessageW(listView_, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::vector<std::wstring> row;
        for (int column = 0; column < columns; ++column) {
            LVITEMW query = {};
            query.iSubItem = column;
            query.pszText = block.Text();
            query.cchTextMax = kTextChars;
            block.Put(query);
            SendMessageW(listView_, LVM_GETITEMTEXTW, i, block.Structure());
            row.push_back(block.GetText());
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<TreeItem> ZarWindow::Tree() const {
    std::vector<TreeItem> items;
    RemoteBlock block(process_.hProcess);
    if (!block.valid()) return items;
    auto root = reinterpret_cast<HTREEITEM>(SendMessageW(treeView_, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    ReadTreeLevel(block, treeView_, root, items);
    return items;
}

std::wstring NotepadText(HWND notepad) {
    HWND edit = FindWindowExW(notepad, nullptr, L"Edit", nullptr);
    if (!edit) return {};
    std::wstring text(static_cast<std::size_t>(SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
    LRESULT got = SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(got));
    return text;
}

std::wstring MessageBoxText(HWND box) {
    std::wstring longest;
    for (HWND child : ChildWindows(box)) {
        if (ClassOf(child) != L"Static") continue;
        std::wstring text = TextOf(child);
        if (text.size() > longest.size()) longest = text;
    }
    return longest;
}

// Under Wine a Windows process can start a Unix program: ImageMagick's import
// takes the picture of the X screen that the windows are drawn on.
bool SaveScreenshot(const std::wstring& fileName) {
    std::wstring folder = TestProgramFolder() + L"..\\..\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring commandLine = L"import -window root " + fileName;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(L"Z:\\usr\\bin\\import", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &started)) {
        return false;
    }
    if (started.hProcess) {
        WaitForSingleObject(started.hProcess, kScreenshotTimeoutMs);
        CloseHandle(started.hProcess);
    }
    if (started.hThread) CloseHandle(started.hThread);
    return true;
}
