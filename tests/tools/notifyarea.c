/* A notification area of the test's own, for a shell too busy to take an
   icon at first: a window of the taskbar's class that answers the icon
   messages Wine's shell32 sends it (WM_COPYDATA, the action in dwData) and
   says each on its output as it comes, "add|modify|delete
   running|paused|none taken|refused". It refuses every add until told
   "take"; told "land", the next add it refuses lands all the same, as one
   that timed out may. It broadcasts nothing: no "TaskbarCreated" tells the
   program to try again. */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <wchar.h>

#include "lines.h"

static volatile LONG g_taking;
static volatile LONG g_landing;
static int g_held;
static CRITICAL_SECTION g_outLock;

static void Say(const char *a, const char *b, const char *c)
{
    EnterCriticalSection(&g_outLock);
    printf("%s %s %s\n", a, b, c);
    fflush(stdout);
    LeaveCriticalSection(&g_outLock);
}

static DWORD WINAPI ReadCommands(void *unused)
{
    char line[64];
    (void)unused;
    while (ReadInputLine(line, sizeof(line))) {
        if (!strcmp(line, "take"))
            InterlockedExchange(&g_taking, 1);
        else if (!strcmp(line, "land"))
            InterlockedExchange(&g_landing, 1);
        Say("done", "0", "");
    }
    ExitProcess(0);
    return 0;
}

/* The look, by the tooltip the record carries. */
static const char *Look(const COPYDATASTRUCT *data)
{
    static const WCHAR paused[] = L"(\x505C\x6B62\x4E2D)"; /* (停止中) */
    static const WCHAR running[] = L"Halvory";
    const WCHAR *text = (const WCHAR *)data->lpData;
    size_t count = data->cbData / sizeof(WCHAR), i;
    const char *look = "none";
    for (i = 0; i + 7 <= count; i++) {
        if (i + 5 <= count && !wmemcmp(text + i, paused, 5))
            return "paused";
        if (!wmemcmp(text + i, running, 7))
            look = "running";
    }
    return look;
}

static LRESULT CALLBACK AreaWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT *data = (const COPYDATASTRUCT *)lParam;
        static const char *const actions[] = {"add", "modify", "delete"};
        BOOL taken = data->dwData != NIM_ADD && g_held;
        if (data->dwData > NIM_DELETE)
            return FALSE;
        if (data->dwData == NIM_ADD && !g_held) { /* a second icon of the same window and id stays refused */
            if (g_taking)
                taken = g_held = TRUE;
            else
                g_held = InterlockedExchange(&g_landing, 0);
        }
        if (data->dwData == NIM_DELETE)
            g_held = 0;
        Say(actions[data->dwData], Look(data), taken ? "taken" : "refused");
        return taken;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int main(void)
{
    WNDCLASSA wc;
    HWND hwnd;
    MSG msg;
    InitializeCriticalSection(&g_outLock);
    ZeroMemory(&wc, sizeof(wc));
    wc.lpfnWndProc = AreaWndProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "Shell_TrayWnd";
    RegisterClassA(&wc);
    /* Topmost and made last, so that a search by class finds it before the
       desktop's own taskbar. */
    hwnd = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "Shell_TrayWnd", NULL, WS_POPUP, 0, 0, 1, 1,
                           NULL, NULL, wc.hInstance, NULL);
    Say("ready", hwnd ? "1" : "0", "");
    CreateThread(NULL, 0, ReadCommands, NULL, 0, NULL);
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
