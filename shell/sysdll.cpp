// Windows looks for a DLL that is not one of its KnownDLLs in the exe's own
// folder first. People run Halvory from wherever they unpacked it, often
// Downloads, where any web page or archive may have left a winmm.dll or a
// media driver (mciwave.dll, mciseq.dll, mciqtz32.dll): found there, it
// would run inside Halvory with the user's rights. So the exe imports only
// KnownDLLs, which always come from the system, binds the two others it
// needs (winmm, comctl32) itself from the system folder, and keeps every
// later search, including the media drivers winmm loads by name, to the
// system folder.
#include "shell/sysdll.h"

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFn)(DWORD);

// Called first thing, before anything can load a DLL by name.
void LimitDllSearch(void)
{
    // Looked up at run time: Windows 8 and later have it, as do Vista and 7
    // with update KB2533623; an import of it would stop Halvory starting on
    // the others.
    SetDefaultDllDirectoriesFn setDefaultDllDirectories = (SetDefaultDllDirectoriesFn)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // Without it the best we can do is drop the current folder from the
    // search. The exe's folder stays first there: our own two DLLs are safe
    // (loaded by full path), but a media driver that winmm loads by name
    // can still be taken from beside the exe on those systems.
    SetDllDirectoryA("");
}

// By full path, so it holds also where the search could not be limited.
HMODULE LoadSystemDll(const char *name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenA(name) >= MAX_PATH)
        return NULL;
    path[length] = '\\';
    lstrcpyA(path + length + 1, name);
    return LoadLibraryA(path);
}
