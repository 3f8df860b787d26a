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
// What the stand-in ReadSettings puts into g_intervalMs, as the store would.
extern unsigned int g_storedIntervalMs;
// Armed state as the stand-in timer sees it (rules test only).
extern int g_timerArmed;
// Whether the stand-in shell takes an add or a modify.
extern BOOL g_trayTakes;

void RecordCall(const char *what, HWND hwnd);
void ClearCalls(void);
// The names of the recorded calls, in order, separated by blanks.
std::string CallNames(void);
// The first recorded call of that name, or NULL.
const Call *FindCall(const char *what);
// A hidden top-level window of its own class, standing in for the main window.
HWND CreateTestWindow(const char *className, WNDPROC proc);

#endif
