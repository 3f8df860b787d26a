/* A DLL as someone else might leave it beside the exe: planted under the
   names of the DLLs Halvory uses (winmm.dll) and of the media drivers winmm
   loads by name (mciwave.dll, mciseq.dll, mciqtz32.dll). It exports what
   those export, so that a program importing it starts, and leaves a mark,
   NAME.dll.loaded beside itself holding the command line of the process that
   loaded it. It does nothing else: loaded in place of winmm, no sound plays. */
#define WIN32_LEAN_AND_MEAN    /* its own declarations of the names it stands for */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8];
        DWORD n = GetModuleFileNameA(instance, path, MAX_PATH);
        lstrcpyA(path + n, ".loaded");
        HANDLE mark = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (mark != INVALID_HANDLE_VALUE) {
            DWORD written;
            const char *line = GetCommandLineA();
            WriteFile(mark, line, (DWORD)lstrlenA(line), &written, NULL);
            CloseHandle(mark);
        }
    }
    return TRUE;
}

/* winmm's: every command fails (MCIERR_DEVICE_NOT_INSTALLED). */
__declspec(dllexport) DWORD WINAPI mciSendCommandA(UINT device, UINT message, DWORD_PTR flags, DWORD_PTR parameters)
{
    (void)device; (void)message; (void)flags; (void)parameters;
    return 306;
}

/* A media driver's one entry: refuses to load. */
__declspec(dllexport) LRESULT WINAPI DriverProc(DWORD_PTR id, HANDLE driver, UINT message, LPARAM p1, LPARAM p2)
{
    (void)id; (void)driver; (void)message; (void)p1; (void)p2;
    return 0;
}
