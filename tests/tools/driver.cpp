// The tests' hand inside Wine: a console program run in the same prefix as
// the program under test, one command per run, printing what it finds.
// Texts are printed as UTF-8 and, where bytes matter, as hex of the code
// page 932 bytes. Another process's control texts are read with
// WM_GETTEXT, which (unlike GetWindowTextA) crosses process boundaries.
//
//   find CLASS TITLE                 "-" for either means any; prints the window or 0
//   wait CLASS TITLE MS              waits for the window; exit 1 if it never comes
//   gone HWND MS                     waits until the window no longer exists
//   send HWND MSG WPARAM LPARAM      SendMessageTimeout; prints the result
//   post HWND MSG WPARAM LPARAM      PostMessage (for anything that opens a modal loop)
//   text HWND [ID]                   the window's (or its child's) text: utf8 and hex
//   settext HWND ID HEX              sets a child's text from code page 932 bytes in hex
//   info HWND                        class, id, style, exstyle, enabled, visible, rect
//   children HWND                    "info" for every child window, in Z (template) order
//   focus HWND                       the control id that has the focus in HWND's thread
//   foreground                       the foreground window
//   windows                          every top-level window: hwnd, Windows process id,
//                                    owner, visible, class and title (utf8, last)
//   sendbuf HWND MSG WPARAM SIZE     sends MSG with lParam pointing at SIZE zeroed bytes
//                                    inside HWND's process (for messages that fill a
//                                    record, e.g. UDM_GETACCEL); prints result and hex
//   sendtext HWND MSG WPARAM         sends a message that fills a text (CB_GETLBTEXT,
//                                    LB_GETTEXT; the platform carries these across)
//                                    in its wide form; prints it like "text"
//   pid HWND                         the process id of a window, and its thread's id
//   traydelete HWND                  removes the icon (uID 0) of HWND from the tray
//   broadcast NAME                   registers NAME and broadcasts it to top-level windows
//   regset-dword NAME VALUE          under HKCU\Software\Orvel
//   regset-sz NAME HEX               REG_SZ of the given bytes (give the NUL too)
//   regset-bin NAME HEX
//   regget NAME                      prints "type size hex", or "missing"
//   regdel                           deletes HKCU\Software\Orvel
//   acp                              prints the ANSI code page
//   cursor                           prints the cursor position
//   postmany HWND COUNT MS MSG W L [MSG W L ...]
//                                    posts the list COUNT times, MS milliseconds apart
//   run HEX MS                       starts the command line given as code page 932
//                                    bytes exactly as written (CreateProcessA, as the
//                                    Run box or a shortcut does), waits up to MS;
//                                    prints its exit code, or "running"
//   hold NAME MS                     creates the named mutex, prints "held" and keeps
//                                    it MS milliseconds
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "hexbytes.h"

#define ORVEL_KEY "Software\\Orvel"

static void Out(const char *text)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)strlen(text), &written, NULL);
}

static void Outf(const char *format, ...)
{
    char buffer[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    Out(buffer);
}

static ULONG_PTR Num(const char *text)
{
    return (ULONG_PTR)_strtoui64(text, NULL, 0);
}

static HWND Hwnd(const char *text)
{
    return (HWND)Num(text);
}

static void PrintCp932(const char *label, const char *bytes, int length)
{
    wchar_t wide[4096];
    char utf8[8192];
    int n = MultiByteToWideChar(932, 0, bytes, length, wide, 4096);
    int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof(utf8) - 1, NULL, NULL);
    utf8[m] = '\0';
    Outf("%s utf8=%s\n%s hex=", label, utf8, label);
    for (int i = 0; i < length; i++)
        Outf("%02x", (unsigned char)bytes[i]);
    Out("\n");
}

static int GetText(HWND hwnd, char *buffer, int size)
{
    DWORD_PTR length = 0;
    buffer[0] = '\0';
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, size, (LPARAM)buffer, SMTO_ABORTIFHUNG, 5000, &length))
        return -1;
    return (int)length;
}

static void Info(HWND hwnd)
{
    char cls[256];
    RECT r;
    GetClassNameA(hwnd, cls, sizeof(cls));
    GetWindowRect(hwnd, &r);
    Outf("hwnd=0x%llx class=%s id=%d style=0x%08lx exstyle=0x%08lx enabled=%d visible=%d "
         "rect=%ld,%ld,%ld,%ld\n",
         (unsigned long long)(ULONG_PTR)hwnd, cls, (int)GetDlgCtrlID(hwnd),
         (unsigned long)GetWindowLongA(hwnd, GWL_STYLE), (unsigned long)GetWindowLongA(hwnd, GWL_EXSTYLE),
         IsWindowEnabled(hwnd) ? 1 : 0, IsWindowVisible(hwnd) ? 1 : 0, r.left, r.top, r.right, r.bottom);
}

static int Wait(const char *cls, const char *title, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = FindWindowA(strcmp(cls, "-") ? cls : NULL, strcmp(title, "-") ? title : NULL);
        if (hwnd) {
            Outf("0x%llx\n", (unsigned long long)(ULONG_PTR)hwnd);
            return 0;
        }
        if (GetTickCount() - start > ms) {
            Out("0\n");
            return 1;
        }
        Sleep(50);
    }
}

static HKEY OpenOrvel(void)
{
    HKEY key = NULL;
    RegCreateKeyExA(HKEY_CURRENT_USER, ORVEL_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    return key;
}

static int RegSet(const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key = OpenOrvel();
    if (!key)
        return 1;
    LONG rc = RegSetValueExA(key, name, 0, type, (const BYTE *)data, size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 1;
}

static BOOL CALLBACK PrintTopLevel(HWND hwnd, LPARAM)
{
    DWORD pid = 0;
    char cls[256], title[1024];
    wchar_t wide[1024];
    char utf8[2048];
    GetWindowThreadProcessId(hwnd, &pid);
    GetClassNameA(hwnd, cls, sizeof(cls));
    GetWindowTextA(hwnd, title, sizeof(title));
    int n = MultiByteToWideChar(932, 0, title, -1, wide, 1024);
    WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof(utf8), NULL, NULL);
    Outf("hwnd=0x%llx pid=%lu owner=0x%llx visible=%d class=%s title=%s\n",
         (unsigned long long)(ULONG_PTR)hwnd, (unsigned long)pid,
         (unsigned long long)(ULONG_PTR)GetWindow(hwnd, GW_OWNER), IsWindowVisible(hwnd) ? 1 : 0, cls,
         utf8);
    return TRUE;
}

// The record lives in the target process: a pointer into ours would mean
// nothing there, and the platform copies only the messages it knows.
static int SendWithRemoteBuffer(HWND hwnd, UINT msg, WPARAM wParam, SIZE_T size)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process)
        return 1;
    void *remote = VirtualAllocEx(process, NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    int rc = 1;
    if (remote) {
        static unsigned char local[4096];
        DWORD_PTR result = 0;
        SIZE_T done = 0;
        if (size > sizeof(local))
            size = sizeof(local);
        ZeroMemory(local, size);
        WriteProcessMemory(process, remote, local, size, &done);
        if (SendMessageTimeoutA(hwnd, msg, wParam, (LPARAM)remote, SMTO_ABORTIFHUNG, 5000, &result)
            && ReadProcessMemory(process, remote, local, size, &done)) {
            Outf("%lld ", (long long)result);
            for (SIZE_T i = 0; i < size; i++)
                Outf("%02x", local[i]);
            Out("\n");
            rc = 0;
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return rc;
}

static int RunCommand(int argc, char **argv);

// "started" is written first thing, so the tests can tell a command that
// failed from a launch under Wine that never reached this program;
// "finished" carries the command's own result, which stands even when Wine
// then fails to end the process cleanly (seen: glibc's "_dl_fini" assertion
// at exit, code 127, after the command had done its work).
int main(int argc, char **argv)
{
    static const char kRanMarker[] = "driver: started\n";
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kRanMarker, sizeof(kRanMarker) - 1, &written, NULL);
    int rc = RunCommand(argc, argv);
    char done[32];
    int n = snprintf(done, sizeof(done), "driver: finished %d\n", rc);
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), done, (DWORD)n, &written, NULL);
    return rc;
}

static int RunCommand(int argc, char **argv)
{
    // Arguments are given in UTF-8 by the Python side; titles and class names
    // we look for are converted to code page 932 here.
    static char args[16][1024];
    for (int i = 0; i < argc && i < 16; i++) {
        LPWSTR *wargv;
        int wargc;
        wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
        if (wargv && i < wargc)
            WideCharToMultiByte(932, 0, wargv[i], -1, args[i], sizeof(args[i]), NULL, NULL);
        else
            lstrcpynA(args[i], argv[i], sizeof(args[i]));
        argv[i] = args[i];
    }
    if (argc < 2) {
        Out("usage: driver COMMAND ...\n");
        return 2;
    }
    const char *cmd = argv[1];
    char text[4096];

    if (!strcmp(cmd, "find") && argc == 4) {
        HWND hwnd = FindWindowA(strcmp(argv[2], "-") ? argv[2] : NULL,
                                strcmp(argv[3], "-") ? argv[3] : NULL);
        Outf("0x%llx\n", (unsigned long long)(ULONG_PTR)hwnd);
        return hwnd ? 0 : 1;
    }
    if (!strcmp(cmd, "wait") && argc == 5)
        return Wait(argv[2], argv[3], (DWORD)Num(argv[4]));
    if (!strcmp(cmd, "gone") && argc == 4) {
        DWORD start = GetTickCount();
        while (IsWindow(Hwnd(argv[2]))) {
            if (GetTickCount() - start > Num(argv[3]))
                return 1;
            Sleep(50);
        }
        return 0;
    }
    if (!strcmp(cmd, "send") && argc == 6) {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(Hwnd(argv[2]), (UINT)Num(argv[3]), Num(argv[4]), Num(argv[5]),
                                 SMTO_ABORTIFHUNG, 5000, &result)) {
            Out("timeout\n");
            return 1;
        }
        Outf("%lld\n", (long long)result);
        return 0;
    }
    if (!strcmp(cmd, "post") && argc == 6)
        return PostMessageA(Hwnd(argv[2]), (UINT)Num(argv[3]), Num(argv[4]), Num(argv[5])) ? 0 : 1;
    if (!strcmp(cmd, "text") && (argc == 3 || argc == 4)) {
        HWND hwnd = Hwnd(argv[2]);
        if (argc == 4)
            hwnd = GetDlgItem(hwnd, (int)Num(argv[3]));
        int n = GetText(hwnd, text, sizeof(text));
        if (n < 0)
            return 1;
        PrintCp932("text", text, n);
        return 0;
    }
    if (!strcmp(cmd, "settext") && argc == 5) {
        int n = HexToBytes(argv[4], text, sizeof(text) - 1);
        text[n] = '\0';
        DWORD_PTR result;
        return SendMessageTimeoutA(GetDlgItem(Hwnd(argv[2]), (int)Num(argv[3])), WM_SETTEXT, 0,
                                   (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &result) ? 0 : 1;
    }
    if (!strcmp(cmd, "info") && argc == 3) {
        if (!IsWindow(Hwnd(argv[2])))
            return 1;
        Info(Hwnd(argv[2]));
        return 0;
    }
    if (!strcmp(cmd, "children") && argc == 3) {
        for (HWND child = GetWindow(Hwnd(argv[2]), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            Info(child);
        return 0;
    }
    if (!strcmp(cmd, "focus") && argc == 3) {
        GUITHREADINFO gti;
        ZeroMemory(&gti, sizeof(gti));
        gti.cbSize = sizeof(gti);
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(Hwnd(argv[2]), NULL), &gti))
            return 1;
        Outf("id=%d hwnd=0x%llx\n", gti.hwndFocus ? GetDlgCtrlID(gti.hwndFocus) : 0,
             (unsigned long long)(ULONG_PTR)gti.hwndFocus);
        return 0;
    }
    if (!strcmp(cmd, "foreground") && argc == 2) {
        Outf("0x%llx\n", (unsigned long long)(ULONG_PTR)GetForegroundWindow());
        return 0;
    }
    if (!strcmp(cmd, "windows") && argc == 2) {
        EnumWindows(PrintTopLevel, 0);
        return 0;
    }
    if (!strcmp(cmd, "sendbuf") && argc == 6)
        return SendWithRemoteBuffer(Hwnd(argv[2]), (UINT)Num(argv[3]), Num(argv[4]), (SIZE_T)Num(argv[5]));
    if (!strcmp(cmd, "sendtext") && argc == 5) {
        // Sent in its wide form: Wine hands the ANSI form of these messages
        // the control's wide text when they cross processes.
        static wchar_t wide[2048];
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(Hwnd(argv[2]), (UINT)Num(argv[3]), Num(argv[4]), (LPARAM)wide,
                                 SMTO_ABORTIFHUNG, 5000, &result) || (LONG_PTR)result < 0)
            return 1;
        int n = WideCharToMultiByte(932, 0, wide, (int)result, text, sizeof(text), NULL, NULL);
        PrintCp932("text", text, n);
        return 0;
    }
    if (!strcmp(cmd, "pid") && argc == 3) {
        DWORD pid = 0;
        DWORD thread = GetWindowThreadProcessId(Hwnd(argv[2]), &pid);
        Outf("%lu %lu\n", (unsigned long)pid, (unsigned long)thread);
        return pid ? 0 : 1;
    }
    if (!strcmp(cmd, "traydelete") && argc == 3) {
        NOTIFYICONDATAA nid;
        ZeroMemory(&nid, sizeof(nid));
        nid.cbSize = sizeof(nid);
        nid.hWnd = Hwnd(argv[2]);
        nid.uID = 0;
        return Shell_NotifyIconA(NIM_DELETE, &nid) ? 0 : 1;
    }
    if (!strcmp(cmd, "broadcast") && argc == 3) {
        UINT msg = RegisterWindowMessageA(argv[2]);
        return PostMessageA(HWND_BROADCAST, msg, 0, 0) ? 0 : 1;
    }
    if (!strcmp(cmd, "regset-dword") && argc == 4) {
        DWORD value = (DWORD)Num(argv[3]);
        return RegSet(argv[2], REG_DWORD, &value, 4);
    }
    if ((!strcmp(cmd, "regset-sz") || !strcmp(cmd, "regset-bin")) && argc == 4) {
        int n = HexToBytes(argv[3], text, sizeof(text));
        return RegSet(argv[2], cmd[7] == 's' ? REG_SZ : REG_BINARY, text, (DWORD)n);
    }
    if (!strcmp(cmd, "regget") && argc == 3) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, ORVEL_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            Out("nokey\n");
            return 0;
        }
        DWORD type = 0, size = sizeof(text);
        LONG rc = RegQueryValueExA(key, argv[2], NULL, &type, (BYTE *)text, &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) {
            Out("missing\n");
            return 0;
        }
        Outf("%lu %lu ", (unsigned long)type, (unsigned long)size);
        for (DWORD i = 0; i < size; i++)
            Outf("%02x", (unsigned char)text[i]);
        Out("\n");
        return 0;
    }
    if (!strcmp(cmd, "regdel") && argc == 2) {
        RegDeleteTreeA(HKEY_CURRENT_USER, ORVEL_KEY);
        RegDeleteKeyA(HKEY_CURRENT_USER, ORVEL_KEY);
        return 0;
    }
    if (!strcmp(cmd, "acp") && argc == 2) {
        Outf("%u\n", GetACP());
        return 0;
    }
    if (!strcmp(cmd, "cursor") && argc == 2) {
        POINT p;
        GetCursorPos(&p);
        Outf("%ld %ld\n", p.x, p.y);
        return 0;
    }
    if (!strcmp(cmd, "postmany") && argc >= 8 && (argc - 5) % 3 == 0) {
        HWND hwnd = Hwnd(argv[2]);
        ULONG_PTR count = Num(argv[3]);
        DWORD pause = (DWORD)Num(argv[4]);
        for (ULONG_PTR n = 0; n < count; n++) {
            for (int i = 5; i + 2 < argc; i += 3)
                if (!PostMessageA(hwnd, (UINT)Num(argv[i]), Num(argv[i + 1]), Num(argv[i + 2])))
                    return 1;
            if (pause)
                Sleep(pause);
        }
        return 0;
    }
    if (!strcmp(cmd, "run") && argc == 4) {
        int n = HexToBytes(argv[2], text, sizeof(text) - 1);
        text[n] = '\0';
        STARTUPINFOA si;
        PROCESS_INFORMATION pi;
        ZeroMemory(&si, sizeof(si));
        si.cb = sizeof(si);
        if (!CreateProcessA(NULL, text, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
            return 1;
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(pi.hProcess, (DWORD)Num(argv[3])) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        code == STILL_ACTIVE ? Out("running\n") : Outf("%lu\n", (unsigned long)code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return 0;
    }
    if (!strcmp(cmd, "hold") && argc == 4) {
        HANDLE mutex = CreateMutexA(NULL, TRUE, argv[2]);
        if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS)
            return 1;
        Out("held\n");
        Sleep((DWORD)Num(argv[3]));
        CloseHandle(mutex);
        return 0;
    }
    Out("unknown command or wrong arguments\n");
    return 2;
}
