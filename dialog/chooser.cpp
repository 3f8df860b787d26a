// The sound file chooser: the platform's open-file dialog, working on the
// live setting, so a chosen file plays from the next chime on.
#include "dialog/settings_dialog.h"
#include "core/settings.h"
#include "shell/app.h"
#include "res/resource.h"

#include <commdlg.h>

#if defined(__i386__)
static_assert(sizeof(OPENFILENAMEA) == 88, "OPENFILENAMEA is 88 bytes on 32-bit Windows");
#endif

// Each text NUL-terminated, the whole closed by a second NUL.
static const char kFilter[] =
    "音声ファイル (*.wav;*.mid;*.mp3)\0*.wav;*.mid;*.mp3\0"
    "すべてのファイル (*.*)\0*.*\0";

void ChooseSoundFile(HWND hwnd)
{
    // The platform may leave an error size in the buffer when it fails or is
    // cancelled (a chosen path longer than the buffer: the size it needs);
    // the setting must not change then.
    char previous[SOUND_PATH_SIZE];
    lstrcpynA(previous, g_soundPath, SOUND_PATH_SIZE);
    // The open-file dialog moves the process's current directory as the user
    // browses and leaves it there, on Cancel too (OFN_NOCHANGEDIR does not
    // apply to it). The default sound is a bare name found in the current
    // directory, so it is put back. It holds at most MAX_PATH characters of
    // up to two bytes each.
    char directory[2 * MAX_PATH];
    DWORD directoryLength = GetCurrentDirectoryA(sizeof(directory), directory);
    // The last byte can only ever be the end of a path of the longest size
    // the buffer holds. Filled with text, it tells of a longer path cut to
    // the buffer with no end: Wine does that, and says it succeeded, for a
    // path of fewer characters than the buffer but more bytes (Japanese).
    g_soundPath[SOUND_PATH_SIZE - 1] = '\0';

    OPENFILENAMEA ofn;
    ZeroMemory(&ofn, sizeof(ofn));
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hwnd;
    ofn.hInstance = g_hInstance;
    ofn.lpstrFilter = kFilter;
    ofn.lpstrFile = g_soundPath;
    ofn.nMaxFile = SOUND_PATH_SIZE;
    ofn.lpstrTitle = "音声ファイルを選んでください";
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_EXPLORER
        | OFN_LONGNAMES;

    BOOL chosen = GetOpenFileNameA(&ofn);
    if (directoryLength > 0 && directoryLength < sizeof(directory))
        SetCurrentDirectoryA(directory);
    // A chosen file that the setting cannot hold: a path cut to the buffer
    // (where the cut splits a double-byte character,
    // the platform leaves the last byte alone, and the path ends early), or
    // a name with a character code page 932 lacks (a wave dash from a Mac,
    // an emoji), which the platform hands back changed. Such a path names
    // nothing, though the chooser was told the file must exist. The user
    // chose a file, so the refusal is said; a Cancel says nothing.
    if (!chosen || g_soundPath[SOUND_PATH_SIZE - 1] != '\0'
        || GetFileAttributesA(g_soundPath) == INVALID_FILE_ATTRIBUTES) {
        lstrcpynA(g_soundPath, previous, SOUND_PATH_SIZE);
        if (chosen)
            MessageBoxA(hwnd, kPathMessage, NULL, MB_ICONWARNING);
        return;
    }
    // Raises EN_CHANGE: the preview buttons follow the chosen file.
    SetDlgItemTextA(hwnd, IDC_SOUNDFILE, g_soundPath);
}
