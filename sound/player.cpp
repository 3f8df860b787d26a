// The media control interface player. No result is checked and nothing is
// reported: a file that cannot be played simply plays nothing.
#include "sound/player.h"
#include "core/settings.h"
#include "shell/app.h"
#include "shell/sysdll.h"

#include <windows.h>
#include <mmsystem.h>

// Kept for the whole run: the device id the last open left here is where the
// next stop and close go. A close does not reset it.
MCI_OPEN_PARMSA g_mciOpen;

typedef MCIERROR(WINAPI *MciSendCommandFn)(MCIDEVICEID, UINT, DWORD_PTR, DWORD_PTR);
static MciSendCommandFn g_mciSendCommand;

// winmm is bound here, from the system folder, at the first command rather
// than imported (see sysdll.cpp). Should it be missing, nothing plays, as
// with any other file that cannot be played.
static void SendMci(MCIDEVICEID device, UINT command, DWORD_PTR flags, DWORD_PTR parameters)
{
    if (!g_mciSendCommand) {
        HMODULE winmm = LoadSystemDll("winmm.dll");
        if (winmm)
            g_mciSendCommand = (MciSendCommandFn)GetProcAddress(winmm, "mciSendCommandA");
        if (!g_mciSendCommand)
            return;
    }
    g_mciSendCommand(device, command, flags, parameters);
}

void StopSound(void)
{
    // Sent even before the first open (to device 0) and to a device that is
    // already closed; the errors that follow are harmless and ignored.
    SendMci(g_mciOpen.wDeviceID, MCI_STOP, MCI_WAIT, 0);
    SendMci(g_mciOpen.wDeviceID, MCI_CLOSE, MCI_WAIT, 0);
}

void StartSound(void)
{
    // The live buffer itself, not a copy: a path changed since the last play
    // takes effect here. No device type: the platform picks one by extension.
    g_mciOpen.lpstrElementName = g_soundPath;
    g_mciOpen.dwCallback = (DWORD_PTR)g_hwndMain;
    SendMci(0, MCI_OPEN, MCI_OPEN_ELEMENT, (DWORD_PTR)&g_mciOpen);

    // The play returns at once; its completion notice goes to no window,
    // since nothing is done when a sound ends.
    MCI_PLAY_PARMS play;
    ZeroMemory(&play, sizeof(play));
    play.dwCallback = 0;
    SendMci(g_mciOpen.wDeviceID, MCI_PLAY, MCI_NOTIFY, (DWORD_PTR)&play);
}

void RestartSound(void)
{
    StopSound();
    StartSound();
}
