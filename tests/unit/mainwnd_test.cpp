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
        g_hwndMain = CreateTestWindow(kClassName, MainWndProc);
        ASSERT_TRUE(g_hwndMain != NULL);
        g_paused = 0;
        ClearCalls();
    }

    void TearDown() override
    {
        if (IsWindow(g_hwndMain))
            DestroyWindow(g_hwndMain);
        g_hwndMain = NULL;
        MSG msg;
        while (PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }

    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam)
    {
        return SendMessageA(g_hwndMain, message, wParam, lParam);
    }
};

TEST_F(MainWnd, TimerMessagesOfAnyIdTick)
{
    EXPECT_EQ(0, Send(WM_TIMER, IDT_CHIME, 0));
    EXPECT_EQ(0, Send(WM_TIMER, 5, 0));
    EXPECT_EQ("RestartSound RestartSound", CallNames());
}

TEST_F(MainWnd, MenuCommandsBecomeTheirRules)
{
    EXPECT_EQ(0, Send(WM_COMMAND, IDM_PAUSE, 0));
    EXPECT_EQ("StopSound ShowPausedIcon DisarmChimeTimer", CallNames());
    EXPECT_EQ(1, g_paused);

    ClearCalls();
    EXPECT_EQ(0, Send(WM_COMMAND, IDM_RESUME, 0));
    EXPECT_EQ("ShowRunningIcon ArmChimeTimer", CallNames());
    EXPECT_EQ(0, g_paused);

    // Only the low word names the command.
    ClearCalls();
    EXPECT_EQ(0, Send(WM_COMMAND, MAKEWPARAM(IDM_SETTINGS, 1), 0));
    EXPECT_EQ("OpenSettingsDialog", CallNames());

    ClearCalls();
    EXPECT_EQ(0, Send(WM_COMMAND, 0, 0));
    EXPECT_EQ(0, Send(WM_COMMAND, 999, 0));
    EXPECT_EQ("", CallNames());
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

TEST_F(MainWnd, TaskbarCreatedBringsTheIconBack)
{
    EXPECT_EQ(0, Send(g_msgTaskbarCreated, 0, 0));
    EXPECT_EQ("StopTrayRetry AddTrayIcon", CallNames());
}

TEST_F(MainWnd, FailedTaskbarRegistrationMatchesNoMessage)
{
    // The menu posts WM_NULL (0): with a failed registration it must not
    // add the icon again.
    g_msgTaskbarCreated = 0;
    EXPECT_EQ(0, Send(WM_NULL, 0, 0));
    EXPECT_EQ("", CallNames());
}

DWORD WINAPI SendFromOtherThread(LPVOID parameter)
{
    LRESULT *result = (LRESULT *)parameter;
    // WM_NULL would give 0 from the default processing.
    *result = SendMessageA(g_hwndMain, WM_NULL, 0, 0);
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
