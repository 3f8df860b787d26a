// Texts reach the tool programs as hex of their code page 932 bytes: the
// command line and pipes would otherwise convert them on the way.
#ifndef HALVORY_TESTS_HEXBYTES_H
#define HALVORY_TESTS_HEXBYTES_H

#include <stdlib.h>

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
