// The tray record exactly as the shell receives it. The shell call is taken
// over at link time: calls to an imported function go through its import
// pointer (__imp_Shell_NotifyIconA), and defining that pointer here makes the
// linker use ours instead of pulling shell32's. Every case checks that the
// stand-in was reached, so a build that still calls the real shell fails.
#include "shell/app.h"
#include "shell/tray.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <string.h>

namespace {

struct SeenCall {
    DWORD action;
    NOTIFYICONDATAA record;
    BOOL iconAlive;        // the icon was a valid icon while the shell had it
    int width, height;     // its size
    int dark, light;       // its pixels, by brightness
};

SeenCall g_seen[8];
int g_calls = 0;
BOOL g_shellResult = TRUE;

// The icon's colour pixels, sorted into dark and light.
void MeasureIcon(HICON icon, SeenCall *call)
{
    ICONINFO info;
    call->iconAlive = GetIconInfo(icon, &info);
    if (!call->iconAlive)
        return;
    BITMAP bm;
    GetObjectA(info.hbmColor, sizeof(bm), &bm);
    call->width = bm.bmWidth;
    call->height = bm.bmHeight;
    BITMAPINFO bi = {{sizeof(BITMAPINFOHEADER), bm.bmWidth, bm.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    static DWORD pixels[64 * 64];
    HDC dc = GetDC(NULL);
    int rows = 0;
    if (bm.bmWidth <= 64 && bm.bmHeight <= 64)
        rows = GetDIBits(dc, info.hbmColor, 0, bm.bmHeight, pixels, &bi, DIB_RGB_COLORS);
    ReleaseDC(NULL, dc);
    for (int i = 0; i < rows * bm.bmWidth; i++) {
        int sum = (pixels[i] & 0xFF) + ((pixels[i] >> 8) & 0xFF) + ((pixels[i] >> 16) & 0xFF);
        if (sum < 3 * 64)
            call->dark++;
        else if (sum > 3 * 192)
            call->light++;
    }
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

extern "C" BOOL WINAPI StandInShellNotifyIconA(DWORD action, PNOTIFYICONDATAA data)
{
    if (g_calls >= 8)
        return FALSE;
    SeenCall *call = &g_seen[g_calls++];
    ZeroMemory(call, sizeof(*call));
    call->action = action;
    // The shell reads only cbSize bytes; copy no more than that.
    memcpy(&call->record, data, data->cbSize < sizeof(NOTIFYICONDATAA) ? data->cbSize : sizeof(NOTIFYICONDATAA));
    if (data->hIcon)
        MeasureIcon(data->hIcon, call);
    return g_shellResult;
}

}  // namespace

// The import pointer's symbol: stdcall names are decorated on i686.
#if defined(__i386__)
#define SHELL_IMPORT_SYMBOL "__imp__Shell_NotifyIconA@8"
#else
#define SHELL_IMPORT_SYMBOL "__imp_Shell_NotifyIconA"
#endif
extern "C" {
BOOL(WINAPI *g_shellImport)(DWORD, PNOTIFYICONDATAA) __asm__(SHELL_IMPORT_SYMBOL) =
    StandInShellNotifyIconA;
}

namespace {

bool IconExists(HICON icon)
{
    ICONINFO info;
    if (!GetIconInfo(icon, &info))
        return false;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return true;
}

class TrayRecord : public ::testing::Test {
protected:
    HWND hwnd_ = NULL;

    void SetUp() override
    {
        g_hInstance = GetModuleHandleA(NULL);
        hwnd_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, g_hInstance, NULL);
        ASSERT_TRUE(hwnd_ != NULL);
        g_hwndMain = hwnd_;
        g_calls = 0;
        g_shellResult = TRUE;
        ZeroMemory(g_seen, sizeof(g_seen));
    }

    void TearDown() override
    {
        DestroyWindow(hwnd_);
        g_hwndMain = NULL;
    }

    void ExpectCommonFields(const SeenCall &call)
    {
        EXPECT_EQ((DWORD)NOTIFYICONDATAA_V1_SIZE, call.record.cbSize);
        EXPECT_EQ(hwnd_, call.record.hWnd);
        EXPECT_EQ(0u, call.record.uID);
        EXPECT_EQ(7u, call.record.uFlags);
        EXPECT_EQ(0x800Au, call.record.uCallbackMessage);
    }
};

// The running look is a light glyph on a dark square with the fixed tooltip;
// the paused look the same glyph dark on a light square, and the tooltip with
// its code page 932 suffix. Either icon is gone once the call has returned.
TEST_F(TrayRecord, EachCallCarriesTheLookOfItsState)
{
    const char kRunningTip[] = "Halvory ver. 1.2", kPausedTip[] = "Halvory ver. 1.2 (\x92\xe2\x8e\x7e\x92\x86)";
    const struct {
        const char *what; BOOL (*show)(HWND); DWORD action; bool running; const char *tip; size_t tipSize;
    } rows[] = {
        {"AddTrayIcon", AddTrayIcon, NIM_ADD, true, kRunningTip, sizeof(kRunningTip)},
        {"ShowRunningIcon", ShowRunningIcon, NIM_MODIFY, true, kRunningTip, sizeof(kRunningTip)},
        {"ShowPausedIcon", ShowPausedIcon, NIM_MODIFY, false, kPausedTip, sizeof(kPausedTip)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        g_calls = 0;
        row.show(hwnd_);
        ASSERT_EQ(1, g_calls) << "the shell stand-in was not reached";
        const SeenCall &call = g_seen[0];
        EXPECT_EQ(row.action, call.action);
        ExpectCommonFields(call);
        ASSERT_TRUE(call.record.hIcon != NULL);
        EXPECT_TRUE(call.iconAlive);
        EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), call.width);
        EXPECT_EQ(GetSystemMetrics(SM_CYSMICON), call.height);
        int square = row.running ? call.dark : call.light, glyph = row.running ? call.light : call.dark;
        EXPECT_GT(square, glyph) << (row.running ? "running look must be mostly dark"
                                                  : "paused look must be mostly light");
        EXPECT_GT(glyph, 0);
        EXPECT_EQ(0, memcmp(row.tip, call.record.szTip, row.tipSize)) << "tooltip: " << call.record.szTip;
        EXPECT_FALSE(IconExists(call.record.hIcon)) << "icon handle left open";
    }
}

// The removal names the same icon (window, id 0) with every flag still set,
// no picture and an empty tooltip.
TEST_F(TrayRecord, RemoveCarriesNoIconAndNoTip)
{
    RemoveTrayIcon(hwnd_);
    ASSERT_EQ(1, g_calls) << "the shell stand-in was not reached";
    const SeenCall &call = g_seen[0];
    EXPECT_EQ((DWORD)NIM_DELETE, call.action);
    ExpectCommonFields(call);
    EXPECT_TRUE(call.record.hIcon == NULL);
    EXPECT_EQ('\0', call.record.szTip[0]);
}

// A tooltip longer than the record holds is cut to 63 bytes and a NUL; the
// shell's answer is passed back; a given icon is destroyed even when the
// shell refuses the call.
TEST_F(TrayRecord, LongTipIsCutAndIconIsDestroyedEvenOnFailure)
{
    char tip[101] = "";
    for (int i = 0; i < 100; i++)
        tip[i] = (char)('A' + i % 26);
    HICON icon = (HICON)LoadImageA(g_hInstance, MAKEINTRESOURCEA(1), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR);
    ASSERT_TRUE(icon != NULL);
    ASSERT_TRUE(IconExists(icon));
    g_shellResult = FALSE;
    EXPECT_FALSE(NotifyTray(hwnd_, NIM_MODIFY, tip, icon));
    ASSERT_EQ(1, g_calls) << "the shell stand-in was not reached";
    const SeenCall &call = g_seen[0];
    EXPECT_EQ(0, memcmp(tip, call.record.szTip, 63));
    EXPECT_EQ('\0', call.record.szTip[63]);
    EXPECT_EQ(63u, strlen(call.record.szTip));
    EXPECT_TRUE(call.iconAlive);
    EXPECT_FALSE(IconExists(icon)) << "icon handle left open after a refused call";
    g_shellResult = TRUE;
    EXPECT_TRUE(NotifyTray(hwnd_, NIM_ADD, NULL, NULL));
    ASSERT_EQ(2, g_calls);
    EXPECT_EQ('\0', g_seen[1].record.szTip[0]);
    EXPECT_TRUE(g_seen[1].record.hIcon == NULL);
}

}  // namespace
