// The chime timer: a plain window timer on the main window, so that each
// expiry arrives as WM_TIMER in the main window's queue.
//
// The platform clamps a timer period above USER_TIMER_MAXIMUM (0x7FFFFFFF
// ms, about 24.8 days) to that maximum, yet the dialog accepts 999:59:59 and
// the registry may hold up to 0xFFFFFFFF ms. An interval that long is counted
// in parts no longer than the maximum, and only the expiry that ends its last
// part chimes. Every shorter interval goes to SetTimer unchanged, 0 included.
#include "core/rules.h"
#include "core/settings.h"
#include "shell/app.h"

unsigned int g_chimeTimerMaxMs = USER_TIMER_MAXIMUM;

static int g_chimeInParts = 0;          // the armed interval is counted in parts
static unsigned int g_chimeMsLeft = 0;  // of the interval, after the part now armed
static unsigned int g_chimePartMs = 0;  // the period the timer is armed with

static void ArmChimePart(void)
{
    unsigned int part = g_chimeMsLeft < g_chimeTimerMaxMs ? g_chimeMsLeft : g_chimeTimerMaxMs;
    g_chimeMsLeft -= part;
    // The timer repeats by itself; a new period needs a new SetTimer, which
    // counts from now.
    if (part != g_chimePartMs) {
        SetTimer(g_hwndMain, IDT_CHIME, part, NULL);
        g_chimePartMs = part;
    }
}

void ArmChimeTimer(void)
{
    if (g_intervalMs <= g_chimeTimerMaxMs) {
        g_chimeInParts = 0;
        SetTimer(g_hwndMain, IDT_CHIME, g_intervalMs, NULL);
        return;
    }
    g_chimeInParts = 1;
    g_chimeMsLeft = g_intervalMs;
    g_chimePartMs = 0;
    ArmChimePart();
}

void DisarmChimeTimer(void)
{
    KillTimer(g_hwndMain, IDT_CHIME);
    g_chimeInParts = 0;
}

int EndChimeTimerPart(void)
{
    if (!g_chimeInParts)
        return 1;
    if (g_chimeMsLeft > 0) {
        ArmChimePart();
        return 0;
    }
    // The whole interval has passed: the next one starts now, in parts again.
    g_chimeMsLeft = g_intervalMs;
    ArmChimePart();
    return 1;
}
