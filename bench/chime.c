/* The least a chiming program can be: a hidden window with a window timer,
   and on every tick the same media commands Halvory's player sends, in the
   same order and with the same flags and records. The benchmark sets
   Halvory's chime timing and its lost plays against it, so whatever this
   program shows too belongs to the platform.

       chime.exe INTERVAL_MS WAV_PATH

   WM_CLOSE ends it with exit code 0. */
#include <windows.h>
#include <mmsystem.h>

static char g_path[MAX_PATH];
/* One record for the whole run, like the player's: the device id the last
   open left in it is where the next stop and close go (0 before the first). */
static MCI_OPEN_PARMSA g_open;

static void Chime(HWND hwnd)
{
    MCI_PLAY_PARMS play;
    mciSendCommandA(g_open.wDeviceID, MCI_STOP, MCI_WAIT, 0);
    mciSendCommandA(g_open.wDeviceID, MCI_CLOSE, MCI_WAIT, 0);
    g_open.lpstrElementName = g_path;
    g_open.dwCallback = (DWORD_PTR)hwnd;
    mciSendCommandA(0, MCI_OPEN, MCI_OPEN_ELEMENT, (DWORD_PTR)&g_open);
    ZeroMemory(&play, sizeof(play));
    play.dwCallback = 0;
    mciSendCommandA(g_open.wDeviceID, MCI_PLAY, MCI_NOTIFY, (DWORD_PTR)&play);
}

static LRESULT CALLBACK ChimeWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        Chime(hwnd);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd, 1);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

/* "1000 Z:\dir\tick.wav": the interval, then the path (quotes dropped). */
static UINT ParseCommandLine(const char *cmdLine)
{
    UINT interval = 0;
    int n = 0;
    while (*cmdLine == ' ')
        cmdLine++;
    while (*cmdLine >= '0' && *cmdLine <= '9')
        interval = interval * 10 + (UINT)(*cmdLine++ - '0');
    while (*cmdLine == ' ' || *cmdLine == '"')
        cmdLine++;
    while (*cmdLine && *cmdLine != '"' && n < MAX_PATH - 1)
        g_path[n++] = *cmdLine++;
    while (n > 0 && g_path[n - 1] == ' ')
        n--;
    g_path[n] = '\0';
    return interval;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPSTR cmdLine, int show)
{
    (void)hPrev; (void)show;
    UINT interval = ParseCommandLine(cmdLine);
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.lpfnWndProc = ChimeWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = "BenchChime";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA("BenchChime", "BenchChime", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              NULL, NULL, hInstance, NULL);
    SetTimer(hwnd, 1, interval, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    /* An open device left to the process's end can take the process down
       with it; release it first, as Halvory does. */
    mciSendCommandA(g_open.wDeviceID, MCI_STOP, MCI_WAIT, 0);
    mciSendCommandA(g_open.wDeviceID, MCI_CLOSE, MCI_WAIT, 0);
    return 0;
}
