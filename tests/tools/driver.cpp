// The tests' hand inside Wine: a console program run in the same prefix as
// the program under test, printing what it finds. It reads one command a
// line from its input, its words parted by tabs in code page 932, and ends
// each answer with "done RC"; it says "ready" first. Texts are printed as
// UTF-8 and, where bytes matter, as hex of the code page 932 bytes. Another
// process's control texts are read with WM_GETTEXT, which (unlike
// GetWindowTextA) crosses process boundaries.
//
//   wait CLASS TITLE OWNER VISIBLE MS  waits for a top-level window ("-": any; VISIBLE 1 for a shown one);
//                                      prints it as "windows" does, 1 if none
//   gone HWND MS                       waits until the window no longer exists
//   send HWND MSG WPARAM LPARAM        SendMessageTimeout; prints the result
//   post HWND MSG WPARAM LPARAM        PostMessage (for anything that opens a modal loop)
//   text HWND [ID]                     the window's (or its child's) text: utf8 and hex
//   settext HWND ID HEX                sets a child's text from code page 932 bytes in hex
//   settextw HWND ID HEX               the same from UTF-16LE bytes (a name code page 932 lacks)
//   info HWND                          class, id, style, exstyle, enabled, visible, rect
//   children HWND                      "info" for every child window, in Z (template) order
//   focus HWND                         the control id that has the focus in HWND's thread
//   foreground                         the foreground window
//   windows                            every top-level window: hwnd, Windows process id, owner, visible, class
//                                      and title (utf8, last)
//   sendbuf HWND MSG WPARAM SIZE       sends MSG with lParam pointing at SIZE zeroed bytes inside HWND's process
//                                      (for messages that fill a record, e.g. UDM_GETACCEL); prints result and hex
//   sendtext HWND MSG WPARAM           sends a message that fills a text (CB_GETLBTEXT, LB_GETTEXT; the platform
//                                      carries these across) in its wide form; prints it like "text"
//   pid HWND                           the process id of a window, and its thread's id
//   traydelete HWND                    removes the icon (uID 0) of HWND from the tray
//   broadcast NAME                     registers NAME and broadcasts it to top-level windows
//   regset NAME TYPE HEX               a value of the type and bytes given, under HKCU\Software\Orvel
//   regget NAME                        prints "type size hex", or "missing" ("nokey" without the key)
//   regdel                             deletes HKCU\Software\Orvel
//   postmany HWND COUNT MS MSG W L [MSG W L ...]  posts the list COUNT times, MS milliseconds apart
//   run HEX MS                         starts the command line given as code page 932 bytes exactly as written
//                                      (CreateProcessA, as the Run box or a shortcut does), waits up to MS;
//                                      prints its exit code, or "running"
//   hold NAME                          creates the named mutex and holds it while the driver runs
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lines.h"

#define ORVEL_KEY "Software\\Orvel"

static char g_text[4096];

static void Out(const char *format, ...)
{
    char buffer[4096];
    DWORD written;
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, (DWORD)strlen(buffer), &written, NULL);
}

// Ends a line with the bytes in hex.
static void OutHex(const void *bytes, size_t size)
{
    for (size_t i = 0; i < size; i++)
        Out("%02x", ((const unsigned char *)bytes)[i]);
    Out("\n");
}

static ULONG_PTR Num(const char *text)
{
    return (ULONG_PTR)_strtoui64(text, NULL, 0);
}

static void ToUtf8(const char *bytes, int length, char *utf8, int size)
{
    static wchar_t wide[4096];
    int n = MultiByteToWideChar(932, 0, bytes, length, wide, 4096);
    utf8[WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, size - 1, NULL, NULL)] = '\0';
}

static void PrintText(const char *bytes, int length)
{
    static char utf8[8192];
    ToUtf8(bytes, length, utf8, sizeof(utf8));
    Out("text utf8=%s\ntext hex=", utf8);
    OutHex(bytes, length);
}

static BOOL Send(BOOL wide, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, DWORD_PTR *result)
{
    return (wide ? SendMessageTimeoutW : SendMessageTimeoutA)(hwnd, msg, wParam, lParam, SMTO_ABORTIFHUNG, 5000,
                                                              result) != 0;
}

static void PrintInfo(HWND hwnd)
{
    char cls[256];
    RECT r;
    GetClassNameA(hwnd, cls, sizeof(cls));
    GetWindowRect(hwnd, &r);
    Out("hwnd=0x%llx class=%s id=%d style=0x%08lx exstyle=0x%08lx enabled=%d visible=%d rect=%ld,%ld,%ld,%ld\n",
        (unsigned long long)(ULONG_PTR)hwnd, cls, (int)GetDlgCtrlID(hwnd),
        (unsigned long)GetWindowLongA(hwnd, GWL_STYLE), (unsigned long)GetWindowLongA(hwnd, GWL_EXSTYLE),
        IsWindowEnabled(hwnd) ? 1 : 0, IsWindowVisible(hwnd) ? 1 : 0, r.left, r.top, r.right, r.bottom);
}

static BOOL CALLBACK PrintTopLevel(HWND hwnd, LPARAM)
{
    DWORD pid = 0;
    char cls[256], title[1024], utf8[4096];
    GetWindowThreadProcessId(hwnd, &pid);
    GetClassNameA(hwnd, cls, sizeof(cls));
    ToUtf8(title, GetWindowTextA(hwnd, title, sizeof(title)), utf8, sizeof(utf8));
    Out("hwnd=0x%llx pid=%lu owner=0x%llx visible=%d class=%s title=%s\n", (unsigned long long)(ULONG_PTR)hwnd,
        (unsigned long)pid, (unsigned long long)(ULONG_PTR)GetWindow(hwnd, GW_OWNER), IsWindowVisible(hwnd) ? 1 : 0,
        cls, utf8);
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
        && (!strcmp(q->owner, "-") || GetWindow(hwnd, GW_OWNER) == (HWND)Num(q->owner))) {
        q->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The record lives in the target process: a pointer into ours would mean
// nothing there, and the platform copies only the messages it knows.
static int SendBuffer(HWND hwnd, UINT msg, WPARAM wParam, SIZE_T size)
{
    static unsigned char local[4096];
    SIZE_T done = 0;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process)
        return 1;
    void *remote = VirtualAllocEx(process, NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    int rc = 1;
    if (remote) {
        DWORD_PTR result = 0;
        if (size > sizeof(local))
            size = sizeof(local);
        ZeroMemory(local, size);
        WriteProcessMemory(process, remote, local, size, &done);
        if (Send(FALSE, hwnd, msg, wParam, (LPARAM)remote, &result)
            && ReadProcessMemory(process, remote, local, size, &done)) {
            Out("%lld ", (long long)result);
            OutHex(local, size);
            rc = 0;
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return rc;
}

// Runs one command, its words in w (w[0] its name, `args` words after it).
static int RunCommand(char **w, int args)
{
    const char *cmd = w[0];
    HWND hwnd = args ? (HWND)Num(w[1]) : NULL; // most commands take a window first
    DWORD_PTR result = 0;

    if (!strcmp(cmd, "wait") && args == 5) {
        WindowQuery q = {w[1], w[2], w[3], !strcmp(w[4], "1"), NULL};
        for (DWORD start = GetTickCount();; Sleep(50)) {
            EnumWindows(MatchTopLevel, (LPARAM)&q);
            if (q.found) {
                PrintTopLevel(q.found, 0);
                return 0;
            }
            if (GetTickCount() - start > (DWORD)Num(w[5]))
                return 1;
        }
    }
    if (!strcmp(cmd, "gone") && args == 2) {
        for (DWORD start = GetTickCount(); IsWindow(hwnd); Sleep(50))
            if (GetTickCount() - start > Num(w[2]))
                return 1;
        return 0;
    }
    if (!strcmp(cmd, "send") && args == 4) {
        if (!Send(FALSE, hwnd, (UINT)Num(w[2]), Num(w[3]), Num(w[4]), &result)) {
            Out("timeout\n");
            return 1;
        }
        Out("%lld\n", (long long)result);
        return 0;
    }
    if (!strcmp(cmd, "post") && args == 4)
        return !PostMessageA(hwnd, (UINT)Num(w[2]), Num(w[3]), Num(w[4]));
    if (!strcmp(cmd, "text") && (args == 1 || args == 2)) {
        g_text[0] = '\0';
        if (!Send(FALSE, args == 2 ? GetDlgItem(hwnd, (int)Num(w[2])) : hwnd, WM_GETTEXT, sizeof(g_text),
                  (LPARAM)g_text, &result))
            return 1;
        PrintText(g_text, (int)result);
        return 0;
    }
    if ((!strcmp(cmd, "settext") || !strcmp(cmd, "settextw")) && args == 3) {
        BOOL wide = cmd[7] == 'w';
        int n = HexToBytes(w[3], g_text, sizeof(g_text) - 1 - wide);
        g_text[n] = g_text[n + wide] = '\0';
        return !Send(wide, GetDlgItem(hwnd, (int)Num(w[2])), WM_SETTEXT, 0, (LPARAM)g_text, &result);
    }
    if (!strcmp(cmd, "info") && args == 1) {
        if (!IsWindow(hwnd))
            return 1;
        PrintInfo(hwnd);
        return 0;
    }
    if (!strcmp(cmd, "children") && args == 1) {
        for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            PrintInfo(child);
        return 0;
    }
    if (!strcmp(cmd, "focus") && args == 1) {
        GUITHREADINFO gti;
        ZeroMemory(&gti, sizeof(gti));
        gti.cbSize = sizeof(gti);
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, NULL), &gti))
            return 1;
        Out("id=%d hwnd=0x%llx\n", gti.hwndFocus ? GetDlgCtrlID(gti.hwndFocus) : 0,
            (unsigned long long)(ULONG_PTR)gti.hwndFocus);
        return 0;
    }
    if (!strcmp(cmd, "foreground") && args == 0) {
        Out("0x%llx\n", (unsigned long long)(ULONG_PTR)GetForegroundWindow());
        return 0;
    }
    if (!strcmp(cmd, "windows") && args == 0) {
        EnumWindows(PrintTopLevel, 0);
        return 0;
    }
    if (!strcmp(cmd, "sendbuf") && args == 4)
        return SendBuffer(hwnd, (UINT)Num(w[2]), Num(w[3]), (SIZE_T)Num(w[4]));
    if (!strcmp(cmd, "sendtext") && args == 3) {
        // Sent in its wide form: Wine hands the ANSI form of these messages
        // the control's wide text when they cross processes.
        static wchar_t wide[2048];
        if (!Send(TRUE, hwnd, (UINT)Num(w[2]), Num(w[3]), (LPARAM)wide, &result) || (LONG_PTR)result < 0)
            return 1;
        PrintText(g_text, WideCharToMultiByte(932, 0, wide, (int)result, g_text, sizeof(g_text), NULL, NULL));
        return 0;
    }
    if (!strcmp(cmd, "pid") && args == 1) {
        DWORD pid = 0, thread = GetWindowThreadProcessId(hwnd, &pid);
        Out("%lu %lu\n", (unsigned long)pid, (unsigned long)thread);
        return !pid;
    }
    if (!strcmp(cmd, "traydelete") && args == 1) {
        NOTIFYICONDATAA nid; // uID 0
        ZeroMemory(&nid, sizeof(nid));
        nid.cbSize = sizeof(nid);
        nid.hWnd = hwnd;
        return !Shell_NotifyIconA(NIM_DELETE, &nid);
    }
    if (!strcmp(cmd, "broadcast") && args == 1)
        return !PostMessageA(HWND_BROADCAST, RegisterWindowMessageA(w[1]), 0, 0);
    if (!strcmp(cmd, "regset") && args == 3) {
        HKEY key;
        int n = HexToBytes(w[3], g_text, sizeof(g_text));
        if (RegCreateKeyExA(HKEY_CURRENT_USER, ORVEL_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL))
            return 1;
        LONG rc = RegSetValueExA(key, w[1], 0, (DWORD)Num(w[2]), (const BYTE *)g_text, (DWORD)n);
        RegCloseKey(key);
        return rc != ERROR_SUCCESS;
    }
    if (!strcmp(cmd, "regget") && args == 1) {
        HKEY key;
        DWORD type = 0, size = sizeof(g_text);
        if (RegOpenKeyExA(HKEY_CURRENT_USER, ORVEL_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            Out("nokey\n");
            return 0;
        }
        LONG rc = RegQueryValueExA(key, w[1], NULL, &type, (BYTE *)g_text, &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) {
            Out("missing\n");
            return 0;
        }
        Out("%lu %lu ", (unsigned long)type, (unsigned long)size);
        OutHex(g_text, size);
        return 0;
    }
    if (!strcmp(cmd, "regdel") && args == 0) {
        RegDeleteTreeA(HKEY_CURRENT_USER, ORVEL_KEY);
        RegDeleteKeyA(HKEY_CURRENT_USER, ORVEL_KEY);
        return 0;
    }
    if (!strcmp(cmd, "postmany") && args >= 6 && args % 3 == 0) {
        for (ULONG_PTR n = 0; n < Num(w[2]); n++) {
            for (int i = 4; i + 2 <= args; i += 3)
                if (!PostMessageA(hwnd, (UINT)Num(w[i]), Num(w[i + 1]), Num(w[i + 2])))
                    return 1;
            if (Num(w[3]))
                Sleep((DWORD)Num(w[3]));
        }
        return 0;
    }
    if (!strcmp(cmd, "run") && args == 2) {
        STARTUPINFOA si;
        PROCESS_INFORMATION pi;
        DWORD code = STILL_ACTIVE;
        g_text[HexToBytes(w[1], g_text, sizeof(g_text) - 1)] = '\0';
        ZeroMemory(&si, sizeof(si));
        si.cb = sizeof(si);
        if (!CreateProcessA(NULL, g_text, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
            return 1;
        if (WaitForSingleObject(pi.hProcess, (DWORD)Num(w[2])) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        code == STILL_ACTIVE ? Out("running\n") : Out("%lu\n", (unsigned long)code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return 0;
    }
    if (!strcmp(cmd, "hold") && args == 1) {
        HANDLE mutex = CreateMutexA(NULL, TRUE, w[1]);
        return !(mutex && GetLastError() != ERROR_ALREADY_EXISTS);
    }
    Out("unknown command or wrong arguments\n");
    return 2;
}

// Runs the command lines of the input until it closes.
int main(void)
{
    static char line[8192];
    char *w[15];
    Out("ready\n");
    while (ReadInputLine(line, sizeof(line))) {
        int count = 0;
        for (char *word = line; word && count < 15; count++) {
            w[count] = word;
            if ((word = strchr(word, '\t')))
                *word++ = '\0';
        }
        Out("done %d\n", RunCommand(w, count - 1));
    }
    return 0;
}
