// The run state and the rules that tie the timer, the sound and the tray
// look together. Each event of the program is one rule.
#ifndef HALVORY_CORE_RULES_H
#define HALVORY_CORE_RULES_H

#define IDT_CHIME   999

extern int g_paused;    // 0 running, 1 paused; never stored

void OnStart(void);
void OnTick(void);
void OnPause(void);
void OnResume(void);
void OnExit(void);
void OnDestroy(void);
void OnTaskbarCreated(void);
void OnTrayRetry(void);      // the shell has not taken the icon yet
void OnSettingsApplied(unsigned int hours, unsigned int minutes, unsigned int seconds);
void OnPreviewPlay(void);
void OnPreviewStop(void);

// The chime timer on the main window: armed exactly while running.
void ArmChimeTimer(void);
void DisarmChimeTimer(void);
// Called at every expiry. An interval longer than the longest timer period
// passes in parts: this arms the next part and returns 0, or returns nonzero
// when the whole interval has passed.
int EndChimeTimerPart(void);
// The longest period one timer is armed with: the platform's maximum, made
// small by tests so that an interval in parts passes in moments.
extern unsigned int g_chimeTimerMaxMs;

#endif
