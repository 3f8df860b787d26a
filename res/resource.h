/* Identifiers shared by the resource script and the code. Plain
   preprocessor constants only: windres reads this file too. */
#ifndef HALVORY_RESOURCE_H
#define HALVORY_RESOURCE_H

/* String table */
#define IDS_CLASSNAME       1
#define IDS_WINDOWNAME      2

/* Icons: the running look is also the window class icon. */
#define IDI_RUNNING         1
#define IDI_PAUSED          2

/* Preview button bitmaps */
#define IDB_PLAY            1
#define IDB_STOP            2

/* Tray menu and its commands */
#define IDR_TRAYMENU        1
#define IDM_EXIT            100
#define IDM_PAUSE           101
#define IDM_RESUME          102
#define IDM_SETTINGS        103

/* Settings dialog and its controls */
#define IDD_SETTINGS        1
#define IDC_SOUNDFILE       200
#define IDC_BROWSE          201
#define IDC_HOURS           202
#define IDC_HOURS_SPIN      203
#define IDC_MINUTES         204
#define IDC_MINUTES_SPIN    205
#define IDC_SECONDS         206
#define IDC_SECONDS_SPIN    207
#define IDC_PLAY            208
#define IDC_STOP            209

#endif
