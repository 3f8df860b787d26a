// Process-wide handles, set once by the entry before the start rule runs.
#ifndef HALVORY_SHELL_APP_H
#define HALVORY_SHELL_APP_H

#include <windows.h>

// Tray icon callback message.
#define WM_TRAYNOTIFY   (WM_APP + 10)

extern HINSTANCE g_hInstance;       // this module
extern HWND g_hwndMain;             // the hidden main window
extern UINT g_msgTaskbarCreated;    // "TaskbarCreated"; 0 if it could not be registered

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
HWND FindTrayNotifyWnd(void);

#endif
