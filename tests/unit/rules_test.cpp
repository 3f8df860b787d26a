// The run-state rules with every other part replaced by a recorder: which
// actions each event takes, in which order, and what it does to g_paused.
// DestroyWindow and PostQuitMessage stay real: g_hwndMain is a real hidden
// window whose procedure logs WM_DESTROY and hands it to the Destroy rule,
// as the main window does.
#include "standins.h"
#include "core/rules.h"
#include "core/settings.h"
#include "shell/app.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

namespace {

const char kClassName[] = "HalvoryRulesTest";

LRESULT CALLBACK TestWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        RecordCall("WM_DESTROY", hwnd);
        OnDestroy();
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The first recorded call of that name; a missing call fails the test.
const Call &CallOf(const char *what)
{
    static Call missing = {"(missing)", NULL, 0xFFFFFFFFu, -1, -1};
    const Call *call = FindCall(what);
    if (!call) {
        ADD_FAILURE() << what << " was not called";
        return missing;
    }
    return *call;
}

class Rules : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(OpenTestWindow(kClassName, TestWndProc) != NULL); }
    void TearDown() override { CloseTestWindow(); }

    void ExpectTrayCallsOnMainWindow(HWND main)
    {
        for (int i = 0; i < g_callCount; i++) {
            const char *what = g_calls[i].what;
            if (!strcmp(what, "AddTrayIcon") || !strcmp(what, "AddPausedIcon") || !strcmp(what, "ShowPausedIcon")
                || !strcmp(what, "ShowRunningIcon") || !strcmp(what, "RemoveTrayIcon")) {
                EXPECT_EQ(main, g_calls[i].hwnd) << what;
            }
        }
    }
};

// Each event in a state (and with a shell that takes the icon or is too busy
// to): the actions in their order, and the state it leaves.
TEST_F(Rules, EachEventTakesItsActionsInOrderAndLeavesItsState)
{
    const struct {
        const char *what; void (*event)(void); int paused; BOOL takes; const char *calls; int pausedAfter;
    } rows[] = {
        // No sound at start: nothing goes to the player.
        {"start", OnStart, 0, TRUE, "ReadSettings AddTrayIcon ArmChimeTimer", 0},
        // A shell too busy to take the icon: the chime starts all the same, and
        // the icon is tried again until it comes.
        {"start, shell busy", OnStart, 0, FALSE, "ReadSettings AddTrayIcon StartTrayRetry ArmChimeTimer", 0},
        {"tick", OnTick, 0, TRUE, "RestartSound", 0},
        // The state is not consulted: a tick that arrives anyway plays.
        {"tick while paused", OnTick, 1, TRUE, "RestartSound", 1},
        {"pause", OnPause, 0, TRUE, "StopSound ShowPausedIcon DisarmChimeTimer", 1},
        // A second pause silences and shows the look again but leaves the timer alone.
        {"second pause", OnPause, 1, TRUE, "StopSound ShowPausedIcon", 1},
        // No sound on resume: the next one is a full interval away.
        {"resume", OnResume, 1, TRUE, "ShowRunningIcon ArmChimeTimer", 0},
        // A retry still waiting ends: the new taskbar has no icon of ours, and
        // gets it in the look of the state, tried again when it is too busy.
        {"new taskbar", OnTaskbarCreated, 0, TRUE, "StopTrayRetry AddTrayIcon", 0},
        {"new taskbar while paused", OnTaskbarCreated, 1, TRUE, "StopTrayRetry AddPausedIcon", 1},
        {"busy new taskbar while paused", OnTaskbarCreated, 1, FALSE, "StopTrayRetry AddPausedIcon StartTrayRetry", 1},
        // The previews touch neither the state nor the timer.
        {"preview play", OnPreviewPlay, 0, TRUE, "RestartSound", 0},
        {"preview stop", OnPreviewStop, 0, TRUE, "StopSound", 0},
        {"preview play while paused", OnPreviewPlay, 1, TRUE, "RestartSound", 1},
        {"preview stop while paused", OnPreviewStop, 1, TRUE, "StopSound", 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ClearCalls();
        g_paused = row.paused;
        g_trayTakes = row.takes;
        row.event();
        EXPECT_EQ(row.calls, CallNames());
        EXPECT_EQ(row.pausedAfter, g_paused);
        ExpectTrayCallsOnMainWindow(g_hwndMain);
    }
}

// Start arms with the interval it read; a pause sets the flag last (its
// disarm still saw the running state); a resume shows the running look, then
// clears the flag, then arms.
TEST_F(Rules, StartArmsWithTheReadIntervalPauseSetsTheFlagLastResumeClearsItBeforeArming)
{
    g_storedIntervalMs = 4321;
    OnStart();
    EXPECT_EQ(4321u, CallOf("ArmChimeTimer").intervalMs);
    ClearCalls();
    OnPause();
    EXPECT_EQ(0, CallOf("DisarmChimeTimer").paused);
    ClearCalls();
    g_intervalMs = 7000;
    OnResume();
    EXPECT_EQ(1, CallOf("ShowRunningIcon").paused);
    EXPECT_EQ(0, CallOf("ArmChimeTimer").paused);
    EXPECT_EQ(7000u, CallOf("ArmChimeTimer").intervalMs);
}

// Each retry tries a modify in the look of the state at that moment (an add
// that timed out may have landed), then an add in that look, and stops once
// the shell has taken either.
TEST_F(Rules, TrayRetryModifiesThenAddsInTheLookOfTheStateUntilTaken)
{
    struct Row { int paused; BOOL takes; const char *calls; } rows[] = {
        {0, FALSE, "ShowRunningIcon AddTrayIcon"},
        {1, FALSE, "ShowPausedIcon AddPausedIcon"},
        {0, TRUE, "ShowRunningIcon StopTrayRetry"},
        {1, TRUE, "ShowPausedIcon StopTrayRetry"},
    };
    for (const Row &row : rows) {
        ClearCalls();
        g_paused = row.paused;
        g_trayTakes = row.takes;
        OnTrayRetry();
        EXPECT_EQ(row.calls, CallNames()) << "paused " << row.paused << ", taken " << row.takes;
        EXPECT_EQ(row.paused, g_paused);
        ExpectTrayCallsOnMainWindow(g_hwndMain);
    }
    EXPECT_EQ(0, g_timerArmed) << "the chime timer is not the retry's";
}

// The new interval is joined and written in either state, and armed at once
// only while running (a paused chime gets it on resume).
TEST_F(Rules, SettingsAppliedJoinsRearmsOnlyWhileRunningThenWrites)
{
    const struct {
        const char *what; int paused; unsigned int hours, minutes, seconds; const char *calls; unsigned int intervalMs;
    } rows[] = {
        // A sound that plays is left alone: no player call.
        {"running", 0, 1, 30, 0, "DisarmChimeTimer ArmChimeTimer WriteSettings", 5400000u},
        {"paused", 1, 1, 2, 3, "WriteSettings", 3723000u},
        {"zero", 0, 0, 0, 0, "DisarmChimeTimer ArmChimeTimer WriteSettings", 0u},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ClearCalls();
        g_paused = row.paused;
        g_intervalMs = DEFAULT_INTERVAL_MS;
        OnSettingsApplied(row.hours, row.minutes, row.seconds);
        EXPECT_EQ(row.calls, CallNames());
        EXPECT_EQ(row.intervalMs, g_intervalMs);
        EXPECT_EQ(row.intervalMs, CallOf("WriteSettings").intervalMs);
        EXPECT_EQ(row.paused, g_paused);
        if (row.paused) {
            ClearCalls();
            OnResume();
        }
        EXPECT_EQ(row.intervalMs, CallOf("ArmChimeTimer").intervalMs);
    }
}

// Exit stops the sound first; a close request ("/u" or a posted WM_CLOSE,
// whose default processing destroys) sends no sound command. Either way the
// timer is disarmed only if it was armed, and the quit message (code 0) comes
// after the icon has gone: a call made now sees it.
TEST_F(Rules, ExitAndCloseRequestDestroyRemoveTheIconAndQuitWithZero)
{
    const struct { const char *what; int paused; bool exit; const char *calls; } rows[] = {
        {"exit while running", 0, true, "StopSound WM_DESTROY DisarmChimeTimer StopTrayRetry RemoveTrayIcon"},
        {"exit while paused", 1, true, "StopSound WM_DESTROY StopTrayRetry RemoveTrayIcon"},
        {"close request while running", 0, false, "WM_DESTROY DisarmChimeTimer StopTrayRetry RemoveTrayIcon"},
        {"close request while paused", 1, false, "WM_DESTROY StopTrayRetry RemoveTrayIcon"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        ASSERT_NO_FATAL_FAILURE(SetUp());
        HWND main = g_hwndMain;
        g_paused = row.paused;
        if (row.exit)
            OnExit();
        else
            SendMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(row.calls, CallNames());
        EXPECT_FALSE(IsWindow(main));
        ExpectTrayCallsOnMainWindow(main);
        EXPECT_EQ(0, CallOf("RemoveTrayIcon").quitPending);
        RecordCall("after", NULL);
        EXPECT_EQ(1, CallOf("after").quitPending);
        WPARAM code = 99;
        ASSERT_TRUE(TakeQuit(&code));
        EXPECT_EQ(0u, code);
    }
}

void ExpectArmedExactlyWhileRunning(const char *after, int paused)
{
    EXPECT_EQ(paused, g_paused) << after;
    EXPECT_EQ(!paused, g_timerArmed) << after;
}

// The timer is armed exactly while running, whatever the events and their order.
TEST_F(Rules, TimerIsArmedExactlyWhileRunningThroughARun)
{
    OnStart();
    ExpectArmedExactlyWhileRunning("start", 0);
    OnTick();
    OnPause();
    ExpectArmedExactlyWhileRunning("pause", 1);
    OnPause(); OnSettingsApplied(0, 0, 5); OnTaskbarCreated(); OnPreviewPlay();
    ExpectArmedExactlyWhileRunning("second pause, settings, new taskbar, preview play", 1);
    OnResume();
    ExpectArmedExactlyWhileRunning("resume", 0);
    OnSettingsApplied(0, 0, 7); OnTaskbarCreated(); OnPreviewStop();
    ExpectArmedExactlyWhileRunning("settings, new taskbar, preview stop", 0);
    OnExit();
    EXPECT_EQ(0, g_timerArmed);
    EXPECT_TRUE(TakeQuit(NULL));
}

} // namespace
