// The event rules. Each reads like its line of the rule table: the actions
// on store, tray, timer and sound, in the order the program performs them.
#include "core/rules.h"
#include "core/settings.h"
#include "core/store.h"
#include "sound/player.h"
#include "shell/tray.h"
#include "shell/app.h"

int g_paused = 0;

static BOOL AddIconOfState(void)
{
    return g_paused ? AddPausedIcon(g_hwndMain) : AddTrayIcon(g_hwndMain);
}

static BOOL ShowLookOfState(void)
{
    return g_paused ? ShowPausedIcon(g_hwndMain) : ShowRunningIcon(g_hwndMain);
}

void OnStart(void)
{
    // No sound at start: the first chime comes one interval later.
    ReadSettings();
    if (!AddTrayIcon(g_hwndMain))
        StartTrayRetry();
    ArmChimeTimer();
}

void OnTick(void)
{
    // No tick comes while paused: the timer is disarmed then. An interval
    // too long for one timer period passes in parts, and only its end chimes.
    if (!EndChimeTimerPart())
        return;
    RestartSound();
}

void OnPause(void)
{
    StopSound();
    ShowPausedIcon(g_hwndMain);
    if (g_paused == 0)
        DisarmChimeTimer();
    g_paused = 1;
}

void OnResume(void)
{
    // Nothing plays now: the next chime is one full interval away.
    ShowRunningIcon(g_hwndMain);
    g_paused = 0;
    ArmChimeTimer();
}

void OnSettingsApplied(unsigned int hours, unsigned int minutes, unsigned int seconds)
{
    // The new path is already in g_soundPath; a sound that plays goes on.
    g_intervalMs = JoinInterval(hours, minutes, seconds);
    if (g_paused == 0) {
        // Restart the count: the next chime is one new interval from now.
        DisarmChimeTimer();
        ArmChimeTimer();
    }
    WriteSettings();
}

void OnExit(void)
{
    StopSound();
    DestroyWindow(g_hwndMain);  // OnDestroy follows from the destruction
}

void OnDestroy(void)
{
    // Also reached by a close request from outside, which sends no sound command.
    if (g_paused == 0)
        DisarmChimeTimer();
    StopTrayRetry();
    RemoveTrayIcon(g_hwndMain);
    PostQuitMessage(0);
}

void OnTaskbarCreated(void)
{
    // The new taskbar has no icon of ours, whatever a retry was waiting
    // for. Bring it back in the look that tells the truth: a paused chime
    // must not look as if it were running.
    StopTrayRetry();
    if (!AddIconOfState())
        StartTrayRetry();
}

void OnTrayRetry(void)
{
    // A modify first: an add that timed out may have reached the shell after
    // all, and a second add would be refused or make a second icon. The
    // look is the state's now, which a pause or resume may have changed.
    if (ShowLookOfState() || AddIconOfState())
        StopTrayRetry();
}

void OnPreviewPlay(void)
{
    RestartSound();
}

void OnPreviewStop(void)
{
    StopSound();
}
