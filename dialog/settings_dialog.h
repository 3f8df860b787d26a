// The settings dialog and its sound file chooser.
#ifndef HALVORY_DIALOG_SETTINGS_DIALOG_H
#define HALVORY_DIALOG_SETTINGS_DIALOG_H

#include <windows.h>

extern HBITMAP g_hbmPlay;       // the preview buttons' pictures while the dialog is open
extern HBITMAP g_hbmStop;
extern HWND g_hwndSettings;     // the open dialog, NULL when none is open

// Runs the dialog modally; while one is open, brings that one forward instead.
void OpenSettingsDialog(void);
// Ends an open dialog as Cancel would, releasing its bitmaps; nothing is applied.
void EndSettingsDialog(void);

INT_PTR CALLBACK SettingsDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void ChooseSoundFile(HWND hwnd);

#endif
