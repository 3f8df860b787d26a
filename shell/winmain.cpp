// The entry: single instance, "/u" to close the running one, the hidden main
// window, the start rule and the message loop.
#include "shell/app.h"
#include "shell/sysdll.h"
#include "core/rules.h"
#include "sound/player.h"
#include "res/resource.h"

#if defined(__i386__)
static_assert(sizeof(WNDCLASSEXA) == 48, "WNDCLASSEXA is 48 bytes on 32-bit Windows");
#endif

#define NAME_SIZE 128

static const char *CommandTail(const char *commandLine);
static BOOL IsCloseRequest(const char *cmdLine);
static BOOL TakeInstanceLock(const char *className, HANDLE *lock);
static void InitCommonControlsFromSystem(void);
static ATOM RegisterMainClass(HINSTANCE hInstance, const char *className);
static void LetTaskbarCreatedIn(HWND hwnd);
static int RunMessageLoop(void);
static DWORD WINAPI EndAtStopDeadline(LPVOID stopReturned);

static int g_exitCode;  // the run's, for a deadline that ends the process

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nCmdShow;
    // Before anything else can load a DLL by name: from here on, DLLs come
    // from the system folder only, never from beside the exe.
    LimitDllSearch();
    // A sound file on a card or disc that has been taken out would make the
    // system ask for it in a box of its own, on our one thread, at every
    // tick's open and every key typed in the dialog's path field: timer,
    // tray menu and dialog would freeze until it was dismissed, and it would
    // come back at the next tick. Such a file simply plays nothing.
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS);
    char className[NAME_SIZE];
    char windowName[NAME_SIZE];
    LoadStringA(hInstance, IDS_CLASSNAME, className, NAME_SIZE);
    LoadStringA(hInstance, IDS_WINDOWNAME, windowName, NAME_SIZE);

    // The running instance's window is hidden but found all the same.
    HWND running = FindWindowA(className, windowName);

    if (IsCloseRequest(CommandTail(GetCommandLineA()))) {
        // Posted even when none runs (to NULL, which does nothing useful);
        // the wait gives the running instance time to remove its icon.
        PostMessageA(running, WM_CLOSE, 0, 0);
        Sleep(1000);
        return 0;
    }
    if (running)
        return 0;
    // The window search alone lets two starts at nearly the same moment both
    // run: each looks before the other has made its window. The lock closes
    // that gap; a start that finds it held ends as if it had found the window.
    HANDLE lock;
    if (!TakeInstanceLock(className, &lock))
        return 0;

    g_hInstance = hInstance;
    g_msgTaskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    InitCommonControlsFromSystem();

    if (!RegisterMainClass(hInstance, className)) {
        MessageBoxA(NULL, "RegisterClassEx失敗。終了します。", windowName, MB_ICONERROR);
        return 1;
    }
    // Never shown: it exists for the timer, the tray callbacks and the broadcasts.
    g_hwndMain = CreateWindowExA(0, className, windowName,
                                 WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                                 CW_USEDEFAULT, 0, 100, 100, NULL, NULL, hInstance, NULL);
    if (!g_hwndMain) {
        MessageBoxA(NULL, "CreateWindow失敗。終了します。", windowName, MB_ICONERROR);
        return 2;
    }
    LetTaskbarCreatedIn(g_hwndMain);

    OnStart();
    int exitCode = RunMessageLoop();
    // The window is gone: a new start may run from here on.
    if (lock)
        CloseHandle(lock);
    // A close request from outside ends the run without stopping the sound.
    // A media device still open while the process tears down can take the
    // process with it (the MPEG player does under Wine 8), so release it
    // here, after every rule has run. That stop may never return: Wine 10's
    // MPEG player, stopped while it is still decoding, now and then leaves
    // two threads of its own waiting on each other, inside the loop or after
    // it, with or without the play's notice, paused first or not. A device
    // takes commands only from the thread that opened it, so the stop stays
    // on this one, and a second thread gives it a deadline.
    // Once the stop has returned, the deadline is called off and waited
    // for: no thread of ours is left running while the process ends.
    g_exitCode = exitCode;
    HANDLE stopReturned = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE deadline = CreateThread(NULL, 0, EndAtStopDeadline, stopReturned, 0, NULL);
    StopSound();
    SetEvent(stopReturned);
    WaitForSingleObject(deadline, INFINITE);
    return exitCode;
}

// What follows the program's own path on its command line: the leading
// blanks and tabs, the path (from an opening double quote to the closing
// one, which goes too; otherwise up to the first blank or tab) and the
// blanks and tabs after it are skipped. The C runtime's start-up code hands
// WinMain a tail worked out with signed bytes, so an unquoted path ends at
// its first Japanese character (C:\Users\山田\...) and the rest of it is
// taken for the argument: "/u" typed at a prompt would never be seen. The
// bytes are compared unsigned here. A trail byte of code page 932 (0x40 to
// 0xFC) is never a blank, a tab or a double quote, so the walk needs no
// knowledge of double-byte characters.
static const char *CommandTail(const char *commandLine)
{
    const unsigned char *p = (const unsigned char *)commandLine;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == '"') {
        p++;
        while (*p && *p != '"')
            p++;
        if (*p == '"')
            p++;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            p++;
    }
    while (*p == ' ' || *p == '\t')
        p++;
    return (const char *)p;
}

static BOOL IsCloseRequest(const char *cmdLine)
{
    // Lower case only, and nothing after the two characters is looked at.
    return cmdLine[0] == '/' && cmdLine[1] == 'u';
}

// The lock is a named mutex in the user's session. Only its existence
// counts: the system frees the name when the last handle to it closes,
// however the holder ended, so a crashed instance never blocks the next
// start. Returns FALSE when another instance holds it.
static BOOL TakeInstanceLock(const char *className, HANDLE *lock)
{
    char name[NAME_SIZE + 8];
    lstrcpyA(name, "Local\\");
    lstrcatA(name, className);
    *lock = CreateMutexA(NULL, FALSE, name);
    DWORD error = GetLastError();
    if (*lock && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(*lock);
        *lock = NULL;
        return FALSE;
    }
    // Made by an instance with more rights than ours (elevated): it runs.
    if (!*lock && error == ERROR_ACCESS_DENIED)
        return FALSE;
    // Any other failure (the name taken by another kind of object) leaves
    // the window search alone to keep a second start out, as it always did.
    return TRUE;
}

// comctl32 is not a KnownDLL: bound from the system folder, not imported,
// so that a copy beside the exe never loads. Its classes (the dialog's
// up-down controls) are there once it is loaded and initialised.
static void InitCommonControlsFromSystem(void)
{
    typedef void(WINAPI * InitCommonControlsFn)(void);
    HMODULE comctl32 = LoadSystemDll("comctl32.dll");
    InitCommonControlsFn init =
        comctl32 ? (InitCommonControlsFn)GetProcAddress(comctl32, "InitCommonControls") : NULL;
    if (init)
        init();
}

static ATOM RegisterMainClass(HINSTANCE hInstance, const char *className)
{
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.cbSize = sizeof(wc);
    wc.style = 0;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(IDI_RUNNING));
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = className;
    wc.hIconSm = (HICON)LoadImageA(hInstance, MAKEINTRESOURCEA(IDI_RUNNING), IMAGE_ICON,
                                   16, 16, LR_DEFAULTCOLOR);
    return RegisterClassExA(&wc);
}

// Windows only (Wine has no integrity levels): an instance started with
// "Run as administrator" runs at a higher integrity level than Explorer, and
// the system drops messages from a lower level unless the window lets them
// in. Without this a restarted Explorer's "TaskbarCreated" never arrives and
// the icon is gone for good. Looked up at run time: Windows 7 and later.
static void LetTaskbarCreatedIn(HWND hwnd)
{
    typedef BOOL(WINAPI * ChangeWindowMessageFilterExFn)(HWND, UINT, DWORD, void *);
    const DWORD allow = 1;  // MSGFLT_ALLOW
    ChangeWindowMessageFilterExFn change = (ChangeWindowMessageFilterExFn)GetProcAddress(
        GetModuleHandleA("user32.dll"), "ChangeWindowMessageFilterEx");
    if (change)
        change(hwnd, g_msgTaskbarCreated, allow, NULL);   // refused for 0: harmless
}

static int RunMessageLoop(void)
{
    MSG msg;
    ZeroMemory(&msg, sizeof(msg));
    BOOL result;
    while ((result = GetMessageA(&msg, NULL, 0, 0)) != 0 && result != -1) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}

// A stop and a close take well under a second even on an emulated exe; one
// still running after this long never returns.
#define STOP_DEADLINE_MS 5000

// Unless the exit's stop returns in its time, the process ends here, with
// the run's exit code, and without the teardown that the device left open
// could take down with it.
static DWORD WINAPI EndAtStopDeadline(LPVOID stopReturned)
{
    if (WaitForSingleObject((HANDLE)stopReturned, STOP_DEADLINE_MS) == WAIT_TIMEOUT)
        TerminateProcess(GetCurrentProcess(), (UINT)g_exitCode);
    return 0;
}
