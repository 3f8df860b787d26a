// Brings the tray icon in when the shell did not take it at first. At a slow
// logon Explorer may not answer within the few seconds Shell_NotifyIcon waits
// for it: the add fails, and no "TaskbarCreated" follows, since the taskbar
// already exists. Without an icon there is no Pause and no Exit, so the rules
// try again (OnTrayRetry) until the shell has it.
#include "shell/tray.h"
#include "shell/app.h"
#include "core/rules.h"

// A timer with a procedure of its own: the platform calls it from the
// message dispatch, so its expiries never reach the window procedure, which
// takes every WM_TIMER there as a chime tick.
static void CALLBACK TrayRetryProc(HWND hwnd, UINT message, UINT_PTR id, DWORD time)
{
    (void)hwnd;
    (void)message;
    (void)id;
    (void)time;
    OnTrayRetry();
}

void StartTrayRetry(void)
{
    SetTimer(g_hwndMain, IDT_TRAYRETRY, TRAY_RETRY_MS, TrayRetryProc);
}

void StopTrayRetry(void)
{
    KillTimer(g_hwndMain, IDT_TRAYRETRY);
}
