// The tests' hand inside Wine: a console program run in the same prefix as
// the program under test, printing what it finds. It reads one command a
// line from its input, its words parted by tabs in code page 932, and ends
// each answer with "done RC"; it says "ready" first. Texts are printed as
// UTF-8 and, where bytes matter, as hex of the code page 932 bytes. Another
// process's control texts are read with WM_GETTEXT, which (unlike
// GetWindowTextA) crosses process boundaries.
//
//   wait CLASS TITLE OWNER VISIBLE MS
//                                    waits for a top-level window ("-": any; VISIBLE 1
//                                    for a shown one); prints it as "windows" does, 1 if none
//   gone HWND MS                     waits until the window no longer exists
//   send HWND MSG WPARAM LPARAM      SendMessageTimeout; prints the result
//   post HWND MSG WPARAM LPARAM      PostMessage (for anything that opens a modal loop)
//   text HWND [ID]                   the window's (or its child's) text: utf8 and hex
//   settext HWND ID HEX              sets a child's text from code page 932 bytes in hex
//   settextw HWND ID HEX             the same from UTF-16LE bytes (a name code page 932 lacks)
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
//   regset NAME TYPE HEX             a value of the type and bytes given, under
//                                    HKCU\Software\Orvel
//   regget NAME                      prints "type size hex", or "missing"
//   regdel                           deletes HKCU\Software\Orvel
//   postmany HWND COUNT MS MSG W L [MSG W L ...]
//                                    posts the list COUNT times, MS milliseconds apart
//   run HEX MS                       starts the command line given as code page 932
//                                    bytes exactly as written (CreateProcessA, as the
//                                    Run box or a shortcut does), waits up to MS;
//                                    prints its exit code, or "running"
//   hold NAME                        creates the named mutex and holds it while the
//                                    driver runs
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "hexbytes.h"
#include "lines.h"

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

// A top-level window of a class, title and owner ("-": any), shown or not.
struct WindowQuery {
    const char *cls, *title, *owner;
    bool visible;
    HWND found;
};

static BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM lParam)
{
    WindowQuery *q = (WindowQuery *)lParam;
    char cls[256], title[1024];
    GetClassNameA(hwnd, cls, sizeof(cls));
    GetWindowTextA(hwnd, title, sizeof(title));
    if ((!q->visible || IsWindowVisible(hwnd)) && (!strcmp(q->cls, "-") || !strcmp(q->cls, cls))
        && (!strcmp(q->title, "-") || !strcmp(q->title, title))
        && (!strcmp(q->owner, "-") || GetWindow(hwnd, GW_OWNER) == Hwnd(q->owner))) {
        q->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

static int WaitTopLevel(const char *cls, const char *title, const char *owner, bool visible, DWORD ms)
{
    DWORD start = GetTickCount();
    WindowQuery q = {cls, title, owner, visible, NULL};
    for (;;) {
        EnumWindows(MatchTopLevel, (LPARAM)&q);
        if (q.found) {
            PrintTopLevel(q.found, 0);
            return 0;
        }
        if (GetTickCount() - start > ms)
            return 1;
        Sleep(50);
    }
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

// Runs the command lines of the input until it closes.
static void Serve(void)
{
    static char line[8192];
    char *argv[16];
    Out("ready\n");
    while (ReadInputLine(line, sizeof(line))) {
        int argc = 1;
        argv[0] = (char *)"driver";
        for (char *word = line; word && argc < 16; argc++) {
            argv[argc] = word;
            word = strchr(word, '\t');
            if (word)
                *word++ = '\0';
        }
        Outf("done %d\n", RunCommand(argc, argv));
    }
}

int main(void)
{
    Serve();
    return 0;
}

static int RunCommand(int argc, char **argv)
{
    if (argc < 2) {
        Out("usage: driver COMMAND ...\n");
        return 2;
    }
    const char *cmd = argv[1];
    char text[4096];

    if (!strcmp(cmd, "wait") && argc == 7)
        return WaitTopLevel(argv[2], argv[3], argv[4], !strcmp(argv[5], "1"), (DWORD)Num(argv[6]));
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
    if (!strcmp(cmd, "settextw") && argc == 5) {
        int n = HexToBytes(argv[4], text, sizeof(text) - 2);
        text[n] = text[n + 1] = '\0';
        DWORD_PTR result;
        return SendMessageTimeoutW(GetDlgItem(Hwnd(argv[2]), (int)Num(argv[3])), WM_SETTEXT, 0,
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
    if (!strcmp(cmd, "regset") && argc == 5) {
        HKEY key;
        int n = HexToBytes(argv[4], text, sizeof(text));
        if (RegCreateKeyExA(HKEY_CURRENT_USER, ORVEL_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
            return 1;
        LONG rc = RegSetValueExA(key, argv[2], 0, (DWORD)Num(argv[3]), (const BYTE *)text, (DWORD)n);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS ? 0 : 1;
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
    if (!strcmp(cmd, "hold") && argc == 3) {
        HANDLE mutex = CreateMutexA(NULL, TRUE, argv[2]);
        return mutex && GetLastError() != ERROR_ALREADY_EXISTS ? 0 : 1;
    }
    Out("unknown command or wrong arguments\n");
    return 2;
}
