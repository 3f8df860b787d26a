// The notification area icon and its two looks, running and paused.
#ifndef HALVORY_SHELL_TRAY_H
#define HALVORY_SHELL_TRAY_H

#include <windows.h>

#define TRAY_TIP_RUNNING    "Halvory ver. 1.2"
#define TRAY_TIP_PAUSED     "Halvory ver. 1.2 (停止中)"

BOOL NotifyTray(HWND hwnd, DWORD action, const char *tip, HICON icon);
void AddTrayIcon(HWND hwnd);
void ShowPausedIcon(HWND hwnd);
void ShowRunningIcon(HWND hwnd);
void RemoveTrayIcon(HWND hwnd);

#endif
