/* The least a tray program can be: a hidden window that adds one icon at
   start and removes it when closed. The benchmark times Halvory's start-up
   (launch to icon on screen) against it.

   It is also the tests' control for the tray menu: a right click on its
   icon opens a menu of one item, "&Close", the way Halvory opens its own
   (foreground to the hidden window, TrackPopupMenu, WM_NULL), and choosing
   it ends the program. Given an exe's path, it shows that exe's icon 1 (the
   tests give Halvory's, so that they find it by its look).

       tray.exe [EXE] */
#include <windows.h>
#include <shellapi.h>

#define WM_TRAYNOTIFY (WM_APP + 10)

static NOTIFYICONDATAA g_nid;

static void ShowMenu(HWND hwnd)
{
    POINT cursor;
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 1, "&Close");
    SetForegroundWindow(hwnd);
    GetCursorPos(&cursor);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, hwnd,
                   NULL);
    PostMessageA(hwnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

static LRESULT CALLBACK TrayWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TRAYNOTIFY:
        if (lParam == WM_RBUTTONUP)
            ShowMenu(hwnd);
        return 0;
    case WM_COMMAND:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        Shell_NotifyIconA(NIM_DELETE, &g_nid);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPSTR cmdLine, int show)
{
    (void)hPrev; (void)show;
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.lpfnWndProc = TrayWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = "BenchTray";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA("BenchTray", "BenchTray", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              NULL, NULL, hInstance, NULL);
    HMODULE icons = *cmdLine ? LoadLibraryExA(cmdLine, NULL, LOAD_LIBRARY_AS_DATAFILE) : NULL;
    g_nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    g_nid.hWnd = hwnd;
    g_nid.uID = 0;
    g_nid.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    g_nid.uCallbackMessage = WM_TRAYNOTIFY;
    g_nid.hIcon = icons ? (HICON)LoadImageA(icons, MAKEINTRESOURCEA(1), IMAGE_ICON, 16, 16, 0)
                        : LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    lstrcpynA(g_nid.szTip, "BenchTray", 64);
    Shell_NotifyIconA(NIM_ADD, &g_nid);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
