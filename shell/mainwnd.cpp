// The hidden main window: it owns the chime timer and receives the tray
// icon's clicks, the menu commands and the shell's taskbar broadcast. The
// procedure only recognises events and hands them to the rules.
#include "shell/app.h"
#include "core/rules.h"
#include "dialog/settings_dialog.h"
#include "res/resource.h"

static void OnCommand(HWND hwnd, WORD id);
static void ShowTrayMenu(HWND hwnd);

HWND FindTrayNotifyWnd(void)
{
    return FindWindowExA(FindWindowA("Shell_TrayWnd", NULL), NULL, "TrayNotifyWnd", NULL);
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    // A message sent from another thread or process is answered at once, so
    // a sender is never held up by what the message starts (a menu, a dialog).
    if (InSendMessage())
        ReplyMessage(1);

    switch (message) {
    case WM_DESTROY:
        // A dialog left open would outlive the window it belongs to.
        EndSettingsDialog();
        OnDestroy();
        return 0;
    case WM_COMMAND:
        OnCommand(hwnd, LOWORD(wParam));
        return 0;
    case WM_TIMER:
        OnTick();
        return 0;
    case WM_TRAYNOTIFY:
        // Only the right button's release opens the menu; other clicks do nothing.
        if (lParam == WM_RBUTTONUP)
            ShowTrayMenu(hwnd);
        return 0;
    }
    // A failed registration gives 0, which must never match a real message.
    if (g_msgTaskbarCreated != 0 && message == g_msgTaskbarCreated) {
        OnTaskbarCreated();
        return 0;
    }
    // WM_CLOSE ends here: the default destroys the window, and WM_DESTROY follows.
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static void OnCommand(HWND hwnd, WORD id)
{
    (void)hwnd;
    switch (id) {
    case IDM_EXIT:
        OnExit();
        break;
    case IDM_PAUSE:
        OnPause();
        break;
    case IDM_RESUME:
        OnResume();
        break;
    case IDM_SETTINGS:
        OpenSettingsDialog();   // modal: returns when the dialog has closed
        break;
    }
}

static void ShowTrayMenu(HWND hwnd)
{
    HMENU menu = LoadMenuA(g_hInstance, MAKEINTRESOURCEA(IDR_TRAYMENU));
    HMENU popup = GetSubMenu(menu, 0);

    EnableMenuItem(menu, IDM_PAUSE, MF_BYCOMMAND | (g_paused ? MF_GRAYED : MF_ENABLED));
    EnableMenuItem(menu, IDM_RESUME, MF_BYCOMMAND | (g_paused ? MF_ENABLED : MF_GRAYED));

    // The menu of a window that is not in the foreground does not close when
    // the user clicks elsewhere, so bring the hidden window forward first.
    SetForegroundWindow(hwnd);

    POINT cursor;
    RECT tray;
    GetCursorPos(&cursor);
    GetWindowRect(FindTrayNotifyWnd(), &tray);
    TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_RIGHTALIGN | TPM_BOTTOMALIGN,
                   cursor.x, cursor.y, 0, hwnd, &tray);

    // Switching to the window again would otherwise show the menu closed at
    // once; a message in the queue lets the foreground change settle.
    PostMessageA(hwnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}
