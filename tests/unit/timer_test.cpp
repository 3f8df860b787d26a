// The chime timer for real: the rules with the real timer on a hidden
// window, the store, player and tray replaced by recorders. Counts are taken
// over generous windows, so a loaded machine slows ticks without failing
// the test; what must never happen (a tick while paused, a tick from a
// replaced interval) is checked strictly.
#include "standins.h"
#include "core/rules.h"
#include "core/settings.h"
#include "shell/app.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

namespace {

const char kClassName[] = "HalvoryTimerTest";

int g_ticks = 0;            // WM_TIMER with the chime id
int g_strangeTicks = 0;     // WM_TIMER with any other id
DWORD g_firstTickAt = 0;
DWORD g_tickAt[8];          // when the first ticks came
int g_chimes = 0;           // ticks that restarted the sound
DWORD g_firstChimeAt = 0;

LRESULT CALLBACK TestWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_TIMER)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    if (wParam == IDT_CHIME) {
        if (g_ticks < 8)
            g_tickAt[g_ticks] = GetTickCount();
        if (g_ticks++ == 0)
            g_firstTickAt = GetTickCount();
    } else {
        g_strangeTicks++;
    }
    int before = g_callCount;
    OnTick();
    if (g_callCount > before && g_chimes++ == 0)
        g_firstChimeAt = GetTickCount();
    return 0;
}

void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    for (DWORD elapsed; (elapsed = GetTickCount() - start) < ms;) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, ms - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

// Dispatches until the counter (of ticks or chimes) reaches the given
// number, at most for the given time.
void PumpUntil(const int *count, int reached, DWORD ms)
{
    DWORD start = GetTickCount();
    while (*count < reached && GetTickCount() - start < ms)
        Pump(10);
}

void ResetTicks()
{
    memset(g_tickAt, 0, sizeof(g_tickAt));
    g_ticks = g_strangeTicks = g_chimes = 0;
    g_firstTickAt = g_firstChimeAt = 0;
}

int Restarts()
{
    int n = 0;
    for (int i = 0; i < g_callCount; i++)
        n += !strcmp(g_calls[i].what, "RestartSound");
    return n;
}

class ChimeTimer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetTicks();
        ASSERT_TRUE(OpenTestWindow(kClassName, TestWndProc) != NULL);
    }

    void TearDown() override
    {
        DisarmChimeTimer();
        g_chimeTimerMaxMs = USER_TIMER_MAXIMUM;
        CloseTestWindow();
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {}
    }
};

TEST_F(ChimeTimer, StartArmsATimerThatTicksOncePerIntervalAndEachTickPlays)
{
    // A timer of another id is seen as one.
    SetTimer(g_hwndMain, IDT_CHIME + 1, 10, NULL);
    PumpUntil(&g_strangeTicks, 1, 2000);
    KillTimer(g_hwndMain, IDT_CHIME + 1);
    MSG msg;
    while (PeekMessageA(&msg, g_hwndMain, WM_TIMER, WM_TIMER, PM_REMOVE)) {}
    ASSERT_GT(g_strangeTicks, 0);
    ResetTicks();
    ClearCalls();
    g_storedIntervalMs = 250;
    DWORD start = GetTickCount();
    OnStart();
    Pump(2000);
    // About 8 in 2 s; a loaded machine merges late ticks, none come early.
    EXPECT_GE(g_ticks, 3);
    EXPECT_LE(g_ticks, 9);
    EXPECT_EQ(0, g_strangeTicks);
    EXPECT_EQ(g_ticks, Restarts());
    // Nothing at start: the first tick is about one interval later.
    ASSERT_NE(0u, g_firstTickAt);
    EXPECT_GE(g_firstTickAt - start, 200u);
}

TEST_F(ChimeTimer, NoTickWhilePausedAndResumeWaitsAFullInterval)
{
    g_storedIntervalMs = 200;
    OnStart();
    PumpUntil(&g_ticks, 1, 3000);
    ASSERT_GE(g_ticks, 1);
    Pump(100);      // into the interval: what is left of it is not a whole one
    OnPause();
    OnPause();
    ResetTicks();
    Pump(1200);
    EXPECT_EQ(0, g_ticks);
    DWORD resumed = GetTickCount();
    OnResume();
    Pump(1500);
    EXPECT_GE(g_ticks, 2);
    ASSERT_NE(0u, g_firstTickAt);
    EXPECT_GE(g_firstTickAt - resumed, 150u);
}

TEST_F(ChimeTimer, SettingsAppliedWhileRunningReplacesTheInterval)
{
    // From a long interval to one second: ticks come only through the re-arm.
    g_storedIntervalMs = 60000;
    OnStart();
    Pump(300);
    EXPECT_EQ(0, g_ticks);
    DWORD applied = GetTickCount();
    OnSettingsApplied(0, 0, 1);
    Pump(3600);
    EXPECT_GE(g_ticks, 2);
    EXPECT_LE(g_ticks, 4);
    ASSERT_NE(0u, g_firstTickAt);
    EXPECT_GE(g_firstTickAt - applied, 800u);

    // From a short interval to a minute: the old count does not go on.
    ResetTicks();
    OnSettingsApplied(0, 0, 0);
    PumpUntil(&g_ticks, 1, 3000);
    ASSERT_GE(g_ticks, 1);
    OnSettingsApplied(0, 1, 0);
    ResetTicks();
    Pump(1200);
    EXPECT_EQ(0, g_ticks);
}

TEST_F(ChimeTimer, SettingsAppliedWhilePausedArmsNothingUntilResume)
{
    g_storedIntervalMs = 200;
    OnStart();
    PumpUntil(&g_ticks, 1, 3000);
    ASSERT_GE(g_ticks, 1);
    OnPause();
    OnSettingsApplied(0, 0, 1);
    ResetTicks();
    Pump(1500);
    EXPECT_EQ(0, g_ticks);
    EXPECT_EQ(1, g_paused);
    DWORD resumed = GetTickCount();
    OnResume();
    Pump(2600);
    EXPECT_GE(g_ticks, 1);
    EXPECT_LE(g_ticks, 3);
    ASSERT_NE(0u, g_firstTickAt);
    EXPECT_GE(g_firstTickAt - resumed, 800u);
}

TEST_F(ChimeTimer, ZeroIntervalTicksAtThePlatformsShortestPeriod)
{
    g_storedIntervalMs = 0;
    OnStart();
    Pump(600);
    EXPECT_GE(g_ticks, 5);
    EXPECT_EQ(g_ticks, Restarts());
}

TEST_F(ChimeTimer, IntervalLongerThanOnePeriodChimesOnlyWhenAllItsPartsHavePassed)
{
    // Parts of at most 1000 ms stand in for the platform's 24.8 days: 2100 ms
    // passes as 1000 + 1000 + 100, and only the third expiry chimes. No timer
    // fires before its period less one step of the tick count (16 ms).
    const DWORD kPartMs = 1000, kIntervalMs = 2100, kStepMs = 16;
    const DWORD kWholeIntervalMs = kIntervalMs - 3 * kStepMs;
    g_chimeTimerMaxMs = kPartMs;
    g_storedIntervalMs = kIntervalMs;
    DWORD start = GetTickCount();
    OnStart();
    PumpUntil(&g_chimes, 1, 8000);
    ASSERT_EQ(1, g_chimes);
    EXPECT_EQ(3, g_ticks) << "the chime ends the third part";
    EXPECT_GE(g_firstChimeAt - start, kWholeIntervalMs) << "the whole interval passes first";
    // The last part is what is left of the interval, 100 ms, not another
    // whole part, which would take a part or more however loaded the machine.
    EXPECT_LT(g_tickAt[2] - g_tickAt[1], kPartMs - kStepMs) << "the last part was armed with a whole part";
    // The next interval is counted in the same parts.
    PumpUntil(&g_chimes, 2, 8000);
    ASSERT_EQ(2, g_chimes);
    EXPECT_EQ(6, g_ticks);
    EXPECT_LT(g_tickAt[5] - g_tickAt[4], kPartMs - kStepMs);
    EXPECT_GE(g_tickAt[5] - g_tickAt[2], kWholeIntervalMs);
    EXPECT_EQ(g_chimes, Restarts());

    // Resume counts a whole interval again, not what was left of the old one.
    Pump(1200);
    OnPause();
    ResetTicks();
    Pump(1000);
    EXPECT_EQ(0, g_ticks);
    DWORD resumed = GetTickCount();
    OnResume();
    PumpUntil(&g_chimes, 1, 8000);
    ASSERT_NE(0u, g_firstChimeAt);
    EXPECT_GE(g_firstChimeAt - resumed, kWholeIntervalMs);
    EXPECT_EQ(3, g_ticks);

    // An interval that fits one period is armed as it is: every expiry chimes.
    DisarmChimeTimer();
    g_intervalMs = 300;
    ResetTicks();
    ClearCalls();
    ArmChimeTimer();
    Pump(1300);
    EXPECT_GE(g_ticks, 2);
    EXPECT_EQ(g_ticks, g_chimes);
}

} // namespace
