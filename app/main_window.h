// The main window: class, creation, window procedure and the panes' layout.
#pragma once
#include <windows.h>

// Registers the class, creates the main window with its child dialog and
// views; false when the window cannot be created.
bool CreateMainWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Sizes the child dialog to the client area: list view on the top three quarters, tree view below.
void LayOutPanes(HWND mainWindow);
// The list view's top height for a client area of the given height.
int ListViewHeight(unsigned clientHeight);
