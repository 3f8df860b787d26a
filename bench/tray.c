/* The least a tray program can be: a hidden window that adds one icon at
   start and removes it when closed. The benchmark times Halvory's start-up
   (launch to icon on screen) against it. */
#include <windows.h>
#include <shellapi.h>

static NOTIFYICONDATAA g_nid;

static LRESULT CALLBACK TrayWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        Shell_NotifyIconA(NIM_DELETE, &g_nid);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrev, LPSTR cmdLine, int show)
{
    (void)hPrev; (void)cmdLine; (void)show;
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof(wc));
    wc.lpfnWndProc = TrayWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = "BenchTray";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA("BenchTray", "BenchTray", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              NULL, NULL, hInstance, NULL);
    g_nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    g_nid.hWnd = hwnd;
    g_nid.uID = 0;
    g_nid.uFlags = NIF_ICON | NIF_TIP;
    g_nid.hIcon = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    lstrcpynA(g_nid.szTip, "BenchTray", 64);
    Shell_NotifyIconA(NIM_ADD, &g_nid);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
