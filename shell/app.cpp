// The process-wide handles of the shell, NULL or 0 until the entry sets them.
#include "shell/app.h"

HINSTANCE g_hInstance = NULL;
HWND g_hwndMain = NULL;
UINT g_msgTaskbarCreated = 0;
