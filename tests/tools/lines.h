// The tool programs take their commands a line at a time on their input.
// Texts reach them as hex of their code page 932 bytes: the command line
// and pipes would otherwise convert them on the way.
#ifndef HALVORY_TESTS_LINES_H
#define HALVORY_TESTS_LINES_H

#include <stdlib.h>
#include <windows.h>

// Reads the next line of the input, without its end; FALSE once it closes.
static inline BOOL ReadInputLine(char *line, int size)
{
    int used = 0;
    for (;;) {
        char c;
        DWORD got = 0;
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, NULL) || got == 0)
            return FALSE;
        if (c == '\n') {
            line[used] = '\0';
            return TRUE;
        }
        if (c != '\r' && used < size - 1)
            line[used++] = c;
    }
}

// Turns pairs of hex digits into bytes; returns how many were written.
static inline int HexToBytes(const char *hex, char *bytes, int max)
{
    int n = 0;
    while (hex[0] && hex[1] && n < max) {
        char pair[3] = {hex[0], hex[1], 0};
        bytes[n++] = (char)strtoul(pair, NULL, 16);
        hex += 2;
    }
    return n;
}

#endif
