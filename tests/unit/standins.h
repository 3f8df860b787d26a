// Recording stand-ins for the parts the run-state rules call: the settings
// store, the sound player, the tray icon and (in the rules test) the chime
// timer. They are linked in place of the real parts, so the rules run
// unchanged and every call they make lands in one ordered log.
#ifndef HALVORY_TESTS_STANDINS_H
#define HALVORY_TESTS_STANDINS_H

#include <windows.h>
#include <string>

struct Call {
    const char *what;       // the stand-in's name, or a window message seen by the test window
    HWND hwnd;              // the window handed to a tray call
    unsigned int intervalMs;    // g_intervalMs when the call was made
    int paused;             // g_paused when the call was made
    int quitPending;        // a WM_QUIT was already queued when the call was made
};

#define MAX_CALLS 64

extern Call g_calls[MAX_CALLS];
extern int g_callCount;
extern unsigned int g_storedIntervalMs;     // what the stand-in ReadSettings puts into g_intervalMs
extern int g_timerArmed;                    // as the stand-in timer sees it (rules test only)
extern BOOL g_trayTakes;                    // whether the stand-in shell takes an add or a modify

void RecordCall(const char *what, HWND hwnd);
void ClearCalls(void);
std::string CallNames(void);                // in order, separated by blanks
const Call *FindCall(const char *what);     // the first of that name, or NULL
// g_hwndMain as a hidden top-level window of its own class, in a fresh case:
// running, every stand-in's state at its default, no call logged, no WM_QUIT.
HWND OpenTestWindow(const char *className, WNDPROC proc);
void CloseTestWindow(void);                 // destroys g_hwndMain if still there, takes any WM_QUIT
// Takes a pending WM_QUIT off the queue; returns 1 and its exit code if there was one.
int TakeQuit(WPARAM *exitCode);

#endif
