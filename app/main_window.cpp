// The main window: its class, the child dialog with the two views, the layout
// and the menu commands.
#include "app/main_window.h"

#include <commctrl.h>

#include <memory>

#include "app/choose_executable.h"
#include "app/worker.h"
#include "base/handles.h"
#include "base/system_library.h"
#include "res/resource.h"
#include "watch/run_stop.h"

namespace {

constexpr int kTextChars = 100;

struct MainWindowState {
    HINSTANCE instance = nullptr;
    wchar_t title[kTextChars] = {};
    wchar_t className[kTextChars] = {};
    HWND panes = nullptr;
    HWND listView = nullptr;
    HWND treeView = nullptr;
};

// Written on the user-interface thread before the message loop starts, only read afterwards.
MainWindowState g_window;

// True from the choice of a file until its worker reports the end of the run
// (user-interface thread only): two runs would share the views and the log.
bool g_runActive = false;
// The number of the active (or last) run and its worker thread.
unsigned g_activeRun = 0;
UniqueHandle g_worker;

// How long the end of the program waits for a run's worker to let its processes go.
constexpr DWORD kRunStopWaitMs = 5000;

INT_PTR CALLBACK PanesDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

void RegisterMainClass(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_ZAR));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEW(IDC_ZAR);
    wc.lpszClassName = g_window.className;
    wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    RegisterClassExW(&wc);
}

// The views' window classes live in comctl32, which is loaded from the system folder only.
void RegisterCommonControls() {
    static auto initControls = SystemProc<BOOL WINAPI(const INITCOMMONCONTROLSEX*)>(L"comctl32.dll", "InitCommonControlsEx");
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    if (initControls) initControls(&icc);
}

void InsertModuleColumns(HWND listView) {
    struct Column {
        const wchar_t* title;
        int width;
    };
    static const Column columns[] = {
        {L"Модуль", 100}, {L"Директория", 150}, {L"Версия файла", 150}, {L"Описание", 350}, {L"Правообладатель", 200}};
    for (int i = 0; i < 5; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = columns[i].width;
        column.pszText = const_cast<wchar_t*>(columns[i].title);
        column.iSubItem = i;
        SendMessageW(listView, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
}

// While a run is active "Файл" is greyed, so the user sees why it does nothing.
void EnableFileCommand(HWND window, bool enabled) {
    EnableMenuItem(GetMenu(window), IDM_FILE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    DrawMenuBar(window);
}

void StartRun(HWND window) {
    // Also refuses while the file dialog is open: commands still arrive through its message loop.
    if (g_runActive) return;
    g_runActive = true;
    auto record = std::make_unique<StartRecord>();
    record->runId = ++g_activeRun;
    if (!ChooseExecutable(window, record->targetPath)) {
        g_runActive = false;
        return;
    }
    record->listView = g_window.listView;
    record->treeView = g_window.treeView;
    record->mainWindow = window;
    EnableFileCommand(window, false);
    g_worker.reset(CreateThread(nullptr, 0, WorkerMain, record.get(), 0, nullptr));
    if (g_worker) {
        record.release();  // the worker owns it now
        return;
    }
    EnableFileCommand(window, true);
    g_runActive = false;
}

void EndRun(HWND window) {
    if (!g_runActive || !RunHasEnded(g_activeRun)) return;
    g_runActive = false;
    g_worker.reset();
    EnableFileCommand(window, true);
}

// Waits for the object while answering the messages that other threads send
// to this one (a worker may be waiting for the views).
void WaitAnsweringSentMessages(HANDLE object, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        DWORD woken = MsgWaitForMultipleObjects(1, &object, FALSE, static_cast<DWORD>(deadline - now), QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1) return;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Returning from the entry point while a worker runs would run the C runtime's
// exit, whose static destructors destroy what the worker still uses, and the
// system would kill the watched processes with their debugger. So the worker
// lets its processes go first, and the program ends without running them.
void EndIfAWorkerRuns() {
    if (!g_worker || WaitForSingleObject(g_worker.get(), 0) != WAIT_TIMEOUT) return;
    RequestRunStop();
    WaitAnsweringSentMessages(g_worker.get(), kRunStopWaitMs);
    TerminateProcess(GetCurrentProcess(), 0);
}

}  // namespace

int ListViewHeight(unsigned clientHeight) {
    return static_cast<int>(static_cast<double>(clientHeight) * 0.75);
}

void LayOutPanes(HWND mainWindow) {
    RECT client = {};
    GetClientRect(mainWindow, &client);
    MoveWindow(g_window.panes, 0, 0, client.right, client.bottom, TRUE);
    RECT panes = {};
    GetClientRect(g_window.panes, &panes);
    int top = ListViewHeight(static_cast<unsigned>(client.bottom));
    MoveWindow(g_window.listView, 0, 0, panes.right, top, TRUE);
    MoveWindow(g_window.treeView, 0, top + 1, panes.right, client.bottom - top, TRUE);
}

bool CreateMainWindow(HINSTANCE instance, int showCommand) {
    g_window.instance = instance;
    LoadStringW(instance, IDS_APP_TITLE, g_window.title, kTextChars);
    LoadStringW(instance, IDC_ZAR, g_window.className, kTextChars);
    RegisterCommonControls();
    RegisterMainClass(instance);
    HWND window = CreateWindowExW(0, g_window.className, g_window.title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 1000,
                                  750, nullptr, nullptr, instance, nullptr);
    if (!window) return false;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    g_window.panes = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_PANES), window, PanesDialogProc, 0);
    g_window.listView = GetDlgItem(g_window.panes, IDC_MODULE_LIST);
    g_window.treeView = GetDlgItem(g_window.panes, IDC_EVENT_TREE);
    LayOutPanes(window);
    InsertModuleColumns(g_window.listView);
    ShowWindow(g_window.panes, SW_SHOWMAXIMIZED);
    return true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_EXIT:
            DestroyWindow(window);
            return 0;
        case IDM_FILE:
            StartRun(window);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_SIZE:
        LayOutPanes(window);
        return 0;
    case kRunEndedMessage:
        EndRun(window);
        return 0;
    case WM_DESTROY:
        EndIfAWorkerRuns();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
