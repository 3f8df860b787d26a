// The chime timer: a plain window timer on the main window, so that each
// expiry arrives as WM_TIMER in the main window's queue.
#include "core/rules.h"
#include "core/settings.h"
#include "shell/app.h"

void ArmChimeTimer(void)
{
    // The interval goes to the platform unchanged, 0 and huge values included.
    SetTimer(g_hwndMain, IDT_CHIME, g_intervalMs, NULL);
}

void DisarmChimeTimer(void)
{
    KillTimer(g_hwndMain, IDT_CHIME);
}
