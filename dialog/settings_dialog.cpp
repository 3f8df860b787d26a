// The settings dialog: the sound file with its preview buttons and the
// interval in hours, minutes and seconds. OK validates, applies and stores.
#include "dialog/settings_dialog.h"
#include "core/rules.h"
#include "core/settings.h"
#include "shell/app.h"
#include "res/resource.h"

#include <commctrl.h>
#include <imm.h>

HBITMAP g_hbmPlay = NULL;
HBITMAP g_hbmStop = NULL;
HWND g_hwndSettings = NULL;

static void OnInitDialog(HWND hwnd);
static void SetUpSpins(HWND hwnd);
static void SetUpNumberField(HWND hwnd, int id, int maxChars);
static void UpdatePreviewButtons(HWND hwnd);
static void OnOk(HWND hwnd);
static void CloseDialog(HWND hwnd, INT_PTR result);
static void ReadPathField(HWND hwnd, char *path);

void OpenSettingsDialog(void)
{
    // One dialog at a time: a second one would share the bitmap pair and
    // delete pictures the first still shows.
    if (g_hwndSettings) {
        SetForegroundWindow(g_hwndSettings);
        return;
    }
    DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(IDD_SETTINGS), NULL, SettingsDlgProc, 0);
}

void EndSettingsDialog(void)
{
    if (g_hwndSettings)
        SendMessageA(g_hwndSettings, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

INT_PTR CALLBACK SettingsDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (message == WM_INITDIALOG) {
        OnInitDialog(hwnd);
        return TRUE;    // the platform focuses the first tab stop, the path field
    }
    if (message != WM_COMMAND)
        return FALSE;

    switch (LOWORD(wParam)) {
    case IDOK:
        OnOk(hwnd);
        break;
    case IDCANCEL:
        // A file chosen with Browse stays in the setting; the fields are dropped.
        CloseDialog(hwnd, 2);
        break;
    case IDC_SOUNDFILE:
        if (HIWORD(wParam) == EN_CHANGE)
            UpdatePreviewButtons(hwnd);
        break;
    case IDC_BROWSE:
        ChooseSoundFile(hwnd);
        break;
    case IDC_PLAY:
        OnPreviewPlay();
        break;
    case IDC_STOP:
        OnPreviewStop();
        break;
    }
    return FALSE;
}

static void OnInitDialog(HWND hwnd)
{
    g_hwndSettings = hwnd;

    unsigned int hours, minutes, seconds;
    SplitInterval(g_intervalMs, &hours, &minutes, &seconds);
    SetDlgItemInt(hwnd, IDC_HOURS, hours, FALSE);
    SetDlgItemInt(hwnd, IDC_MINUTES, minutes, FALSE);
    SetDlgItemInt(hwnd, IDC_SECONDS, seconds, FALSE);

    SetUpSpins(hwnd);

    SetUpNumberField(hwnd, IDC_HOURS, 3);
    SetUpNumberField(hwnd, IDC_MINUTES, 2);
    SetUpNumberField(hwnd, IDC_SECONDS, 2);

    // Raises EN_CHANGE, which sets the preview buttons for this path.
    SetDlgItemTextA(hwnd, IDC_SOUNDFILE, g_soundPath);

    g_hbmPlay = (HBITMAP)LoadImageA(g_hInstance, MAKEINTRESOURCEA(IDB_PLAY), IMAGE_BITMAP,
                                    12, 12, LR_LOADMAP3DCOLORS);
    g_hbmStop = (HBITMAP)LoadImageA(g_hInstance, MAKEINTRESOURCEA(IDB_STOP), IMAGE_BITMAP,
                                    12, 12, LR_LOADMAP3DCOLORS);
    SendDlgItemMessageA(hwnd, IDC_PLAY, BM_SETIMAGE, IMAGE_BITMAP, (LPARAM)g_hbmPlay);
    SendDlgItemMessageA(hwnd, IDC_STOP, BM_SETIMAGE, IMAGE_BITMAP, (LPARAM)g_hbmStop);
}

static void SetUpNumberField(HWND hwnd, int id, int maxChars)
{
    HWND field = GetDlgItem(hwnd, id);
    SendMessageA(field, EM_LIMITTEXT, maxChars, 0);
    // Fields of digits take no input method, as in Japanese programs: with
    // the IME on, keys typed there come as plain digits, not as full-width
    // text waiting to be confirmed.
    ImmAssociateContext(field, NULL);
}

static void SetUpSpins(HWND hwnd)
{
    // The ranges are given reversed (maximum 0, minimum the larger number)
    // and stepped with an increment of -1: the up arrow then adds 1, and the
    // value stops at the ends instead of wrapping.
    SendDlgItemMessageA(hwnd, IDC_HOURS_SPIN, UDM_SETRANGE, 0, MAKELPARAM(0, MAX_HOURS));
    SendDlgItemMessageA(hwnd, IDC_MINUTES_SPIN, UDM_SETRANGE, 0, MAKELPARAM(0, MAX_MINUTES));
    SendDlgItemMessageA(hwnd, IDC_SECONDS_SPIN, UDM_SETRANGE, 0, MAKELPARAM(0, MAX_SECONDS));

    // One acceleration entry: the step stays 1 however long an arrow is held.
    UDACCEL accel;
    ZeroMemory(&accel, sizeof(accel));
    SendDlgItemMessageA(hwnd, IDC_HOURS_SPIN, UDM_GETACCEL, 1, (LPARAM)&accel);
    accel.nInc = (UINT)-1;
    SendDlgItemMessageA(hwnd, IDC_HOURS_SPIN, UDM_SETACCEL, 1, (LPARAM)&accel);
    SendDlgItemMessageA(hwnd, IDC_MINUTES_SPIN, UDM_SETACCEL, 1, (LPARAM)&accel);
    SendDlgItemMessageA(hwnd, IDC_SECONDS_SPIN, UDM_SETACCEL, 1, (LPARAM)&accel);
}

static void UpdatePreviewButtons(HWND hwnd)
{
    // The buttons play the setting, but they are offered only while the
    // field names something that exists.
    char path[SOUND_PATH_SIZE];
    ReadPathField(hwnd, path);
    BOOL exists = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    EnableWindow(GetDlgItem(hwnd, IDC_PLAY), exists);
    EnableWindow(GetDlgItem(hwnd, IDC_STOP), exists);
}

static void ReadPathField(HWND hwnd, char *path)
{
    // A longer text is cut to 259 bytes; never leave half a double-byte
    // character at the end, which would name a different file.
    GetDlgItemTextA(hwnd, IDC_SOUNDFILE, path, SOUND_PATH_SIZE);
    CutAtCharBoundary(path, SOUND_PATH_SIZE - 1);
}

static int ReadNumberField(HWND hwnd, int id, EntryField field, NumberEntry *entry,
                           EntryFailure *failure)
{
    // A paste is not filtered by the field, and full-width digits are what a
    // Japanese user types with the IME on: they count as the digits they are.
    char text[16];
    if (GetDlgItemTextA(hwnd, id, text, sizeof(text)) >= (int)sizeof(text) - 1)
        text[0] = '\0';    // too long for the buffer: no number of the field's size
    ConvertNumberText(text, entry);
    return CheckNumberEntry(field, entry, failure);
}

static void OnOk(HWND hwnd)
{
    // Each field is read only after the one before it has passed.
    NumberEntry hours, minutes, seconds;
    EntryFailure failure;
    char path[SOUND_PATH_SIZE];
    int valid = ReadNumberField(hwnd, IDC_HOURS, ENTRY_HOURS, &hours, &failure)
        && ReadNumberField(hwnd, IDC_MINUTES, ENTRY_MINUTES, &minutes, &failure)
        && ReadNumberField(hwnd, IDC_SECONDS, ENTRY_SECONDS, &seconds, &failure);
    if (valid) {
        ReadPathField(hwnd, path);
        valid = CheckPathEntry(path, &failure);
    }
    if (!valid) {
        MessageBoxA(hwnd, failure.message, NULL, MB_ICONWARNING);
        SetFocus(GetDlgItem(hwnd, failure.focusId));
        return;
    }

    ReadPathField(hwnd, g_soundPath);
    OnSettingsApplied(hours.value, minutes.value, seconds.value);
    CloseDialog(hwnd, 1);
}

static void CloseDialog(HWND hwnd, INT_PTR result)
{
    DeleteObject(g_hbmPlay);
    DeleteObject(g_hbmStop);
    g_hbmPlay = NULL;
    g_hbmStop = NULL;
    g_hwndSettings = NULL;
    EndDialog(hwnd, result);
}
