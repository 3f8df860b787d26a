// The main window procedure on a real window of its own class, with the
// rules real and everything they call recorded: which messages become which
// events, and which do nothing. The tray menu itself is proved end to end.
#include "standins.h"
#include "core/rules.h"
#include "dialog/settings_dialog.h"
#include "res/resource.h"
#include "shell/app.h"

#include <gtest/gtest.h>
#include <windows.h>

// The settings dialog as a recorder: the procedure opens it and, when the
// window goes, ends it.
void OpenSettingsDialog(void) { RecordCall("OpenSettingsDialog", NULL); }
void EndSettingsDialog(void) { RecordCall("EndSettingsDialog", NULL); }

namespace {

const char kClassName[] = "HalvoryMainWndTest";

class MainWnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleA(NULL);
        g_msgTaskbarCreated = RegisterWindowMessageA("TaskbarCreated");
        ASSERT_TRUE(OpenTestWindow(kClassName, MainWndProc) != NULL);
    }
    void TearDown() override { CloseTestWindow(); }
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lp) { return SendMessageA(g_hwndMain, message, wParam, lp); }
};

TEST_F(MainWnd, TimerMessagesOfAnyIdTick)
{
    EXPECT_EQ(0, Send(WM_TIMER, IDT_CHIME, 0));
    EXPECT_EQ(0, Send(WM_TIMER, 5, 0));
    EXPECT_EQ("RestartSound RestartSound", CallNames());
}

// In this order: a pause, a resume, then commands that touch no state.
TEST_F(MainWnd, MenuCommandsBecomeTheirRules)
{
    const struct { WPARAM command; const char *calls; int paused; } rows[] = {
        {IDM_PAUSE, "StopSound ShowPausedIcon DisarmChimeTimer", 1},
        {IDM_RESUME, "ShowRunningIcon ArmChimeTimer", 0},
        {MAKEWPARAM(IDM_SETTINGS, 1), "OpenSettingsDialog", 0},     // only the low word names the command
        {0, "", 0},
        {999, "", 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "command " << row.command);
        ClearCalls();
        EXPECT_EQ(0, Send(WM_COMMAND, row.command, 0));
        EXPECT_EQ(row.calls, CallNames());
        EXPECT_EQ(row.paused, g_paused);
    }
}

TEST_F(MainWnd, ExitCommandStopsSoundEndsTheDialogAndQuits)
{
    HWND main = g_hwndMain;
    EXPECT_EQ(0, Send(WM_COMMAND, IDM_EXIT, 0));
    EXPECT_EQ("StopSound EndSettingsDialog DisarmChimeTimer StopTrayRetry RemoveTrayIcon", CallNames());
    EXPECT_FALSE(IsWindow(main));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, msg.wParam);
}

TEST_F(MainWnd, CloseRequestDestroysWithoutSoundCommand)
{
    HWND main = g_hwndMain;
    Send(WM_CLOSE, 0, 0);
    EXPECT_EQ("EndSettingsDialog DisarmChimeTimer StopTrayRetry RemoveTrayIcon", CallNames());
    EXPECT_FALSE(IsWindow(main));
}

// Whether such a click opens the tray menu is seen end to end, where a menu
// can be seen: here, that it calls no rule.
TEST_F(MainWnd, TrayClicksOtherThanRightReleaseCallNoRule)
{
    const LPARAM others[] = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,
                             WM_RBUTTONDBLCLK, WM_MOUSEMOVE};
    for (LPARAM other : others)
        EXPECT_EQ(0, Send(WM_TRAYNOTIFY, 0, other)) << other;
    EXPECT_EQ("", CallNames());
}

// The taskbar's message brings the icon back; with a failed registration it
// is 0, which must not match the WM_NULL (0) the menu posts.
TEST_F(MainWnd, TaskbarCreatedBringsTheIconBackAndAFailedRegistrationMatchesNoMessage)
{
    EXPECT_EQ(0, Send(g_msgTaskbarCreated, 0, 0));
    EXPECT_EQ("StopTrayRetry AddTrayIcon", CallNames());
    ClearCalls();
    g_msgTaskbarCreated = 0;
    EXPECT_EQ(0, Send(WM_NULL, 0, 0));
    EXPECT_EQ("", CallNames());
}

DWORD WINAPI SendFromOtherThread(LPVOID parameter)
{
    // WM_NULL would give 0 from the default processing.
    *(LRESULT *)parameter = SendMessageA(g_hwndMain, WM_NULL, 0, 0);
    return 0;
}

TEST_F(MainWnd, MessageSentFromAnotherThreadIsAnsweredWithOne)
{
    LRESULT result = 77;
    HANDLE thread = CreateThread(NULL, 0, SendFromOtherThread, &result, 0, NULL);
    ASSERT_TRUE(thread != NULL);
    // The sent message is handled while this thread waits for messages.
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    CloseHandle(thread);
    EXPECT_EQ(1, result);
    // Sent from the own thread, the procedure's own result comes back.
    EXPECT_EQ(0, Send(WM_NULL, 0, 0));
}

} // namespace
