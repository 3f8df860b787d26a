// A stage for the sound player and the tray icon: the real player and tray
// code, a hidden window as the main window, and commands read one per line
// from standard input. Each command is carried out on the window's thread
// (posted to the window as WM_APP + n, like the program's own events) and
// answered on standard output with "done 0" once it has returned, so the
// test knows exactly when a play was started or an icon was changed. It
// says "ready HWND THREAD" first, with its window and the window's thread.
// The commands (g_commands): start, restart, stop (StartSound, RestartSound, StopSound); add, paused, running,
// remove (AddTrayIcon, ShowPausedIcon, ShowRunningIcon, RemoveTrayIcon); "path HEX" sets the sound path buffer
// to these code page 932 bytes (it starts empty, so a start before any "path" opens nothing); "device" prints
// the device id the player holds now; "quit" ends the program.
#include "core/settings.h"
#include "shell/app.h"
#include "shell/tray.h"
#include "sound/player.h"

#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>
#include <string.h>

#include "lines.h"

extern MCI_OPEN_PARMSA g_mciOpen;

// The commands' messages, in the order of their names in g_commands.
enum Command {
    CMD_PATH = WM_APP + 100, CMD_START, CMD_RESTART, CMD_STOP, CMD_ADD, CMD_PAUSED, CMD_RUNNING, CMD_REMOVE,
    CMD_DEVICE, CMD_QUIT
};

static const char *const g_commands[] = {"path", "start", "restart", "stop", "add", "paused", "running", "remove",
                                         "device", "quit"};

// The bytes of the last "path" line, handed to the window's thread.
static char g_pendingPath[SOUND_PATH_SIZE];
static CRITICAL_SECTION g_outLock;

static void Answer(const char *format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    DWORD written;
    EnterCriticalSection(&g_outLock);
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, (DWORD)n, &written, NULL);
    LeaveCriticalSection(&g_outLock);
}

static void RunLine(char *line)
{
    char *arg = strchr(line, '\t');
    if (arg)
        *arg++ = '\0';
    for (UINT i = 0; i < sizeof(g_commands) / sizeof(g_commands[0]); i++) {
        if (strcmp(line, g_commands[i]))
            continue;
        if (!strcmp(line, "path"))
            g_pendingPath[arg ? HexToBytes(arg, g_pendingPath, SOUND_PATH_SIZE - 1) : 0] = '\0';
        PostMessageA(g_hwndMain, CMD_PATH + i, 0, 0);
        return;
    }
    Answer("unknown command %s\ndone 2\n", line);
}

// Reads standard input line by line; ends the program when it closes.
static DWORD WINAPI ReadCommands(LPVOID)
{
    char line[1024];
    while (ReadInputLine(line, sizeof(line)))
        if (line[0])
            RunLine(line);
    PostMessageA(g_hwndMain, CMD_QUIT, 0, 0);
    return 0;
}

static LRESULT CALLBACK StageWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case CMD_PATH:
        lstrcpynA(g_soundPath, g_pendingPath, SOUND_PATH_SIZE);
        break;
    case CMD_START:
        StartSound();
        break;
    case CMD_RESTART:
        RestartSound();
        break;
    case CMD_STOP:
        StopSound();
        break;
    case CMD_ADD:
        AddTrayIcon(hwnd);
        break;
    case CMD_PAUSED:
        ShowPausedIcon(hwnd);
        break;
    case CMD_RUNNING:
        ShowRunningIcon(hwnd);
        break;
    case CMD_REMOVE:
        RemoveTrayIcon(hwnd);
        break;
    case CMD_DEVICE:
        Answer("device %u\n", (unsigned)g_mciOpen.wDeviceID);
        break;
    case CMD_QUIT:
        PostQuitMessage(0);
        break;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    Answer("done 0\n");
    return 0;
}

int main(void)
{
    InitializeCriticalSection(&g_outLock);
    g_hInstance = GetModuleHandleA(NULL);
    g_soundPath[0] = '\0';

    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.lpfnWndProc = StageWndProc;
    wc.hInstance = g_hInstance;
    wc.lpszClassName = "HalvorySoundTrayStage";
    RegisterClassA(&wc);
    // An ordinary top-level window that is never shown, like the program's.
    g_hwndMain = CreateWindowExA(0, wc.lpszClassName, "Halvory sound and tray stage", WS_OVERLAPPEDWINDOW,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL,
                                 g_hInstance, NULL);
    if (!g_hwndMain) {
        Answer("error window %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    Answer("ready 0x%llx %lu\n", (unsigned long long)(ULONG_PTR)g_hwndMain, (unsigned long)GetCurrentThreadId());
    CreateThread(NULL, 0, ReadCommands, NULL, 0, NULL);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
