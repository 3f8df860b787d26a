// The tool programs take their commands a line at a time on their input.
#ifndef HALVORY_TESTS_LINES_H
#define HALVORY_TESTS_LINES_H

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

#endif
