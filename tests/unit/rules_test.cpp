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

// Takes a pending WM_QUIT off the queue; returns 1 and its exit code if there was one.
int TakeQuit(WPARAM *exitCode)
{
    MSG msg;
    if (!PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
        return 0;
    if (exitCode)
        *exitCode = msg.wParam;
    return 1;
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
    void SetUp() override
    {
        g_hwndMain = CreateTestWindow(kClassName, TestWndProc);
        ASSERT_TRUE(g_hwndMain != NULL);
        g_paused = 0;
        g_intervalMs = DEFAULT_INTERVAL_MS;
        g_storedIntervalMs = DEFAULT_INTERVAL_MS;
        g_timerArmed = 0;
        g_trayTakes = TRUE;
        while (TakeQuit(NULL)) {
        }
        ClearCalls();
    }

    void TearDown() override
    {
        if (IsWindow(g_hwndMain))
            DestroyWindow(g_hwndMain);
        g_hwndMain = NULL;
        while (TakeQuit(NULL)) {
        }
    }

    // Each tray call must name the main window.
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

TEST_F(Rules, StartReadsSettingsAddsRunningIconThenArmsWithTheReadInterval)
{
    g_storedIntervalMs = 4321;
    OnStart();
    // No sound at start: nothing goes to the player.
    EXPECT_EQ("ReadSettings AddTrayIcon ArmChimeTimer", CallNames());
    EXPECT_EQ(4321u, CallOf("ArmChimeTimer").intervalMs);
    EXPECT_EQ(0, g_paused);
    ExpectTrayCallsOnMainWindow(g_hwndMain);

    // A shell too busy to take the icon: the chime starts all the same, and
    // the icon is tried again until it comes.
    ClearCalls();
    g_trayTakes = FALSE;
    OnStart();
    EXPECT_EQ("ReadSettings AddTrayIcon StartTrayRetry ArmChimeTimer", CallNames());
}

// Each retry tries a modify in the look of the state at that moment (an add
// that timed out may have landed), then an add in that look, and stops once
// the shell has taken either.
TEST_F(Rules, TrayRetryModifiesThenAddsInTheLookOfTheStateUntilTaken)
{
    struct Row {
        int paused;
        BOOL takes;
        const char *calls;
    } rows[] = {
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

TEST_F(Rules, TickRestartsTheSoundAndNothingElseInEitherState)
{
    OnTick();
    EXPECT_EQ("RestartSound", CallNames());
    EXPECT_EQ(0, g_paused);

    // The state is not consulted: a tick that arrives anyway plays.
    ClearCalls();
    g_paused = 1;
    OnTick();
    EXPECT_EQ("RestartSound", CallNames());
    EXPECT_EQ(1, g_paused);
}

TEST_F(Rules, PauseStopsSoundShowsPausedLookAndDisarmsOnlyOnce)
{
    OnPause();
    EXPECT_EQ("StopSound ShowPausedIcon DisarmChimeTimer", CallNames());
    // The flag is set last: the disarm still saw the running state.
    EXPECT_EQ(0, CallOf("DisarmChimeTimer").paused);
    EXPECT_EQ(1, g_paused);
    ExpectTrayCallsOnMainWindow(g_hwndMain);

    // A second pause silences and shows the look again but leaves the timer alone.
    ClearCalls();
    OnPause();
    EXPECT_EQ("StopSound ShowPausedIcon", CallNames());
    EXPECT_EQ(1, g_paused);
}

TEST_F(Rules, ResumeShowsRunningLookThenClearsFlagThenArms)
{
    g_paused = 1;
    g_intervalMs = 7000;
    OnResume();
    // No sound on resume: the next one is a full interval away.
    EXPECT_EQ("ShowRunningIcon ArmChimeTimer", CallNames());
    EXPECT_EQ(1, CallOf("ShowRunningIcon").paused);
    EXPECT_EQ(0, CallOf("ArmChimeTimer").paused);
    EXPECT_EQ(7000u, CallOf("ArmChimeTimer").intervalMs);
    EXPECT_EQ(0, g_paused);
    ExpectTrayCallsOnMainWindow(g_hwndMain);
}

TEST_F(Rules, SettingsAppliedWhileRunningJoinsRearmsThenWrites)
{
    OnSettingsApplied(1, 30, 0);
    // A sound that plays is left alone: no player call.
    EXPECT_EQ("DisarmChimeTimer ArmChimeTimer WriteSettings", CallNames());
    EXPECT_EQ(5400000u, g_intervalMs);
    EXPECT_EQ(5400000u, CallOf("ArmChimeTimer").intervalMs);
    EXPECT_EQ(5400000u, CallOf("WriteSettings").intervalMs);
    EXPECT_EQ(0, g_paused);
}

TEST_F(Rules, SettingsAppliedWhilePausedOnlyJoinsAndWritesAndResumeUsesTheNewInterval)
{
    g_paused = 1;
    OnSettingsApplied(1, 2, 3);
    EXPECT_EQ("WriteSettings", CallNames());
    EXPECT_EQ(3723000u, g_intervalMs);
    EXPECT_EQ(3723000u, CallOf("WriteSettings").intervalMs);
    EXPECT_EQ(1, g_paused);

    ClearCalls();
    OnResume();
    EXPECT_EQ(3723000u, CallOf("ArmChimeTimer").intervalMs);
}

TEST_F(Rules, SettingsAppliedWithZeroArmsZero)
{
    OnSettingsApplied(0, 0, 0);
    EXPECT_EQ(0u, g_intervalMs);
    EXPECT_EQ(0u, CallOf("ArmChimeTimer").intervalMs);
}

TEST_F(Rules, ExitWhileRunningStopsSoundThenDestroysAndQuitsWithZero)
{
    HWND main = g_hwndMain;
    OnExit();
    EXPECT_EQ("StopSound WM_DESTROY DisarmChimeTimer StopTrayRetry RemoveTrayIcon", CallNames());
    EXPECT_FALSE(IsWindow(main));
    ExpectTrayCallsOnMainWindow(main);
    // The quit message comes after the icon has gone (a call made now sees it).
    EXPECT_EQ(0, CallOf("RemoveTrayIcon").quitPending);
    RecordCall("after", NULL);
    EXPECT_EQ(1, CallOf("after").quitPending);
    WPARAM code = 99;
    ASSERT_TRUE(TakeQuit(&code));
    EXPECT_EQ(0u, code);
}

TEST_F(Rules, ExitWhilePausedLeavesTheDisarmedTimerAlone)
{
    g_paused = 1;
    HWND main = g_hwndMain;
    OnExit();
    EXPECT_EQ("StopSound WM_DESTROY StopTrayRetry RemoveTrayIcon", CallNames());
    EXPECT_FALSE(IsWindow(main));
    WPARAM code = 99;
    ASSERT_TRUE(TakeQuit(&code));
    EXPECT_EQ(0u, code);
}

TEST_F(Rules, CloseRequestWhileRunningDisarmsRemovesIconAndQuitsWithoutSoundCommand)
{
    HWND main = g_hwndMain;
    // What "/u" or a posted WM_CLOSE does: the default processing destroys.
    SendMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_EQ("WM_DESTROY DisarmChimeTimer StopTrayRetry RemoveTrayIcon", CallNames());
    EXPECT_EQ(0, CallOf("RemoveTrayIcon").quitPending);
    ExpectTrayCallsOnMainWindow(main);
    WPARAM code = 99;
    ASSERT_TRUE(TakeQuit(&code));
    EXPECT_EQ(0u, code);
}

TEST_F(Rules, CloseRequestWhilePausedRemovesIconAndQuits)
{
    g_paused = 1;
    SendMessageA(g_hwndMain, WM_CLOSE, 0, 0);
    EXPECT_EQ("WM_DESTROY StopTrayRetry RemoveTrayIcon", CallNames());
    WPARAM code = 99;
    ASSERT_TRUE(TakeQuit(&code));
    EXPECT_EQ(0u, code);
}

TEST_F(Rules, TaskbarCreatedAddsTheIconInTheLookOfTheState)
{
    // A retry still waiting ends: the new taskbar has no icon of ours.
    OnTaskbarCreated();
    EXPECT_EQ("StopTrayRetry AddTrayIcon", CallNames());
    EXPECT_EQ(0, g_paused);
    ExpectTrayCallsOnMainWindow(g_hwndMain);

    // While paused the icon comes back in the paused look.
    ClearCalls();
    g_paused = 1;
    OnTaskbarCreated();
    EXPECT_EQ("StopTrayRetry AddPausedIcon", CallNames());
    EXPECT_EQ(1, g_paused);
    ExpectTrayCallsOnMainWindow(g_hwndMain);

    // A new taskbar too busy to take it: tried again.
    ClearCalls();
    g_trayTakes = FALSE;
    OnTaskbarCreated();
    EXPECT_EQ("StopTrayRetry AddPausedIcon StartTrayRetry", CallNames());
}

TEST_F(Rules, PreviewsPlayAndStopWithoutTouchingStateOrTimer)
{
    for (int paused = 0; paused <= 1; paused++) {
        g_paused = paused;
        ClearCalls();
        OnPreviewPlay();
        EXPECT_EQ("RestartSound", CallNames());
        ClearCalls();
        OnPreviewStop();
        EXPECT_EQ("StopSound", CallNames());
        EXPECT_EQ(paused, g_paused);
    }
}

// The timer is armed exactly while running, whatever the events and their order.
TEST_F(Rules, TimerIsArmedExactlyWhileRunningThroughARun)
{
    OnStart();
    EXPECT_EQ(0, g_paused);
    EXPECT_EQ(1, g_timerArmed);
    OnTick();
    OnPause();
    EXPECT_EQ(1, g_paused);
    EXPECT_EQ(0, g_timerArmed);
    OnPause();
    OnSettingsApplied(0, 0, 5);
    OnTaskbarCreated();
    OnPreviewPlay();
    EXPECT_EQ(1, g_paused);
    EXPECT_EQ(0, g_timerArmed);
    OnResume();
    EXPECT_EQ(0, g_paused);
    EXPECT_EQ(1, g_timerArmed);
    OnSettingsApplied(0, 0, 7);
    OnTaskbarCreated();
    OnPreviewStop();
    EXPECT_EQ(0, g_paused);
    EXPECT_EQ(1, g_timerArmed);
    OnExit();
    EXPECT_EQ(0, g_timerArmed);
    EXPECT_TRUE(TakeQuit(NULL));
}

} // namespace
