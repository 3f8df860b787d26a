// The notification area icon and its two looks, running and paused.
#ifndef HALVORY_SHELL_TRAY_H
#define HALVORY_SHELL_TRAY_H

#include <windows.h>

#define TRAY_TIP_RUNNING    "Halvory ver. 1.2"
#define TRAY_TIP_PAUSED     "Halvory ver. 1.2 (停止中)"

BOOL NotifyTray(HWND hwnd, DWORD action, const char *tip, HICON icon);
// Each returns the shell's answer: FALSE when it did not take the icon.
BOOL AddTrayIcon(HWND hwnd);
BOOL AddPausedIcon(HWND hwnd);
BOOL ShowPausedIcon(HWND hwnd);
BOOL ShowRunningIcon(HWND hwnd);
void RemoveTrayIcon(HWND hwnd);

// While the shell has not taken the icon, the rules try again at a short
// period (OnTrayRetry) until it has.
#define IDT_TRAYRETRY   998
#define TRAY_RETRY_MS   1000
void StartTrayRetry(void);
void StopTrayRetry(void);

#endif
