// Where this program's DLLs come from: the system folder, never the folder
// the exe was started from.
#ifndef HALVORY_SHELL_SYSDLL_H
#define HALVORY_SHELL_SYSDLL_H

#include <windows.h>

void LimitDllSearch(void);
HMODULE LoadSystemDll(const char *name);

#endif
