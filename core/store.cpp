// Reads the two settings at start and writes them when the dialog is confirmed.
// No failure is reported: a missing key or value keeps what is in memory.
#include "core/store.h"
#include "core/settings.h"

#include <windows.h>

static void ReadInterval(HKEY key)
{
    // Read aside first: a value of another size must not leave a half-written
    // interval. The type is deliberately not checked, so a 4-byte REG_BINARY
    // written by hand still loads as it always has.
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExA(key, STORE_VALUE_WAIT, NULL, NULL, (BYTE *)&value, &size) == ERROR_SUCCESS
        && size == sizeof(value))
        g_intervalMs = value;
}

static void ReadSoundPath(HKEY key)
{
    // Read aside too: the platform may scribble on the buffer when the value
    // is too long, and the path must stay NUL-terminated within its buffer.
    char text[SOUND_PATH_SIZE];
    DWORD size = sizeof(text);
    if (RegQueryValueExA(key, STORE_VALUE_SOUND, NULL, NULL, (BYTE *)text, &size) != ERROR_SUCCESS)
        return;
    DWORD length = 0;
    while (length < size && text[length] != '\0')
        length++;
    if (length >= SOUND_PATH_SIZE)
        return;     // 260 bytes without a NUL: no path fits, keep the old one
    text[length] = '\0';
    lstrcpynA(g_soundPath, text, SOUND_PATH_SIZE);
}

void ReadSettings(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, STORE_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    ReadInterval(key);
    ReadSoundPath(key);
    RegCloseKey(key);
}

void WriteSettings(void)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, STORE_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    DWORD interval = g_intervalMs;
    RegSetValueExA(key, STORE_VALUE_WAIT, 0, REG_DWORD, (const BYTE *)&interval, sizeof(interval));
    RegSetValueExA(key, STORE_VALUE_SOUND, 0, REG_SZ, (const BYTE *)g_soundPath,
                   lstrlenA(g_soundPath) + 1);
    RegCloseKey(key);
}
