// Stand-ins for the store, the sound player and the tray icon.
#include "standins.h"
#include "core/rules.h"
#include "core/settings.h"
#include "core/store.h"
#include "sound/player.h"
#include "shell/tray.h"
#include "shell/app.h"

#include <string.h>

Call g_calls[MAX_CALLS];
int g_callCount = 0;
unsigned int g_storedIntervalMs = DEFAULT_INTERVAL_MS;
int g_timerArmed = 0;
BOOL g_trayTakes = TRUE;

void RecordCall(const char *what, HWND hwnd)
{
    if (g_callCount >= MAX_CALLS)
        return;
    Call &call = g_calls[g_callCount++];
    call.what = what;
    call.hwnd = hwnd;
    call.intervalMs = g_intervalMs;
    call.paused = g_paused;
    MSG msg;
    call.quitPending = PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_NOREMOVE) ? 1 : 0;
}

void ClearCalls(void) { g_callCount = 0; }

std::string CallNames(void)
{
    std::string names;
    for (int i = 0; i < g_callCount; i++)
        names += std::string(i ? " " : "") + g_calls[i].what;
    return names;
}

const Call *FindCall(const char *what)
{
    for (int i = 0; i < g_callCount; i++)
        if (!strcmp(g_calls[i].what, what))
            return &g_calls[i];
    return NULL;
}

void ReadSettings(void) { g_intervalMs = g_storedIntervalMs; RecordCall("ReadSettings", NULL); }

void WriteSettings(void) { RecordCall("WriteSettings", NULL); }
void StopSound(void) { RecordCall("StopSound", NULL); }
void RestartSound(void) { RecordCall("RestartSound", NULL); }

// The shell's answer to each add and modify, as a busy shell would give it.
static BOOL TrayAnswer(const char *what, HWND hwnd)
{
    RecordCall(what, hwnd);
    return g_trayTakes;
}

BOOL AddTrayIcon(HWND hwnd) { return TrayAnswer("AddTrayIcon", hwnd); }
BOOL AddPausedIcon(HWND hwnd) { return TrayAnswer("AddPausedIcon", hwnd); }
BOOL ShowPausedIcon(HWND hwnd) { return TrayAnswer("ShowPausedIcon", hwnd); }
BOOL ShowRunningIcon(HWND hwnd) { return TrayAnswer("ShowRunningIcon", hwnd); }
void RemoveTrayIcon(HWND hwnd) { RecordCall("RemoveTrayIcon", hwnd); }
void StartTrayRetry(void) { RecordCall("StartTrayRetry", g_hwndMain); }
void StopTrayRetry(void) { RecordCall("StopTrayRetry", g_hwndMain); }

HWND OpenTestWindow(const char *className, WNDPROC proc)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = className;
    RegisterClassA(&wc);    // fails harmlessly when an earlier case registered it
    g_hwndMain = CreateWindowExA(0, className, className, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL,
                                 GetModuleHandleA(NULL), NULL);
    g_paused = 0;
    g_intervalMs = g_storedIntervalMs = DEFAULT_INTERVAL_MS;
    g_timerArmed = 0;
    g_trayTakes = TRUE;
    while (TakeQuit(NULL)) {}
    ClearCalls();
    return g_hwndMain;
}

void CloseTestWindow(void)
{
    if (IsWindow(g_hwndMain))
        DestroyWindow(g_hwndMain);
    g_hwndMain = NULL;
    while (TakeQuit(NULL)) {}
}

int TakeQuit(WPARAM *exitCode)
{
    MSG msg;
    if (!PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
        return 0;
    if (exitCode)
        *exitCode = msg.wParam;
    return 1;
}
