// The chime timer as a recorder, for tests of the rules alone.
#include "standins.h"
#include "core/rules.h"
#include "shell/app.h"

void ArmChimeTimer(void) { RecordCall("ArmChimeTimer", g_hwndMain); g_timerArmed = 1; }
void DisarmChimeTimer(void) { RecordCall("DisarmChimeTimer", g_hwndMain); g_timerArmed = 0; }
// Every expiry ends a whole interval here: parts are the real timer's
// matter, tested with it.
int EndChimeTimerPart(void) { return 1; }
