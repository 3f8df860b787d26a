// Adds, switches and removes the tray icon. Every call fills a fresh record
// and every icon is loaded for the call and destroyed right after it.
#include "shell/tray.h"
#include "shell/app.h"
#include "res/resource.h"

#include <shellapi.h>

// The oldest form of the record (64-byte tooltip) is understood by every
// shell; the size macro keeps it right on 64-bit builds too.
#if defined(__i386__)
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "NOTIFYICONDATAA v1 is 88 bytes on 32-bit Windows");
#endif

static HICON LoadLookIcon(int id)
{
    return (HICON)LoadImageA(g_hInstance, MAKEINTRESOURCEA(id), IMAGE_ICON,
                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                             LR_DEFAULTCOLOR);
}

BOOL NotifyTray(HWND hwnd, DWORD action, const char *tip, HICON icon)
{
    NOTIFYICONDATAA nid;
    ZeroMemory(&nid, sizeof(nid));
    nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    nid.hWnd = hwnd;
    nid.uID = 0;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = WM_TRAYNOTIFY;
    nid.hIcon = icon;
    lstrcpynA(nid.szTip, tip ? tip : "", 64);

    BOOL result = Shell_NotifyIconA(action, &nid);
    // The shell keeps its own copy of the picture.
    if (icon)
        DestroyIcon(icon);
    return result;
}

BOOL AddTrayIcon(HWND hwnd)
{
    return NotifyTray(hwnd, NIM_ADD, TRAY_TIP_RUNNING, LoadLookIcon(IDI_RUNNING));
}

BOOL AddPausedIcon(HWND hwnd)
{
    return NotifyTray(hwnd, NIM_ADD, TRAY_TIP_PAUSED, LoadLookIcon(IDI_PAUSED));
}

BOOL ShowPausedIcon(HWND hwnd)
{
    return NotifyTray(hwnd, NIM_MODIFY, TRAY_TIP_PAUSED, LoadLookIcon(IDI_PAUSED));
}

BOOL ShowRunningIcon(HWND hwnd)
{
    return NotifyTray(hwnd, NIM_MODIFY, TRAY_TIP_RUNNING, LoadLookIcon(IDI_RUNNING));
}

void RemoveTrayIcon(HWND hwnd)
{
    NotifyTray(hwnd, NIM_DELETE, NULL, NULL);
}
