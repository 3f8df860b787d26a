/* The least a resident Win32 program can be: one hidden window and a message
   loop, nothing else. The benchmark sets Halvory's idle cost against it. */
#include <windows.h>

static LRESULT CALLBACK IdleWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
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
    wc.lpfnWndProc = IdleWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = "BenchIdle";
    RegisterClassA(&wc);
    CreateWindowA("BenchIdle", "BenchIdle", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                  NULL, NULL, hInstance, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
