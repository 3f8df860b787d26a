// The interval arithmetic and the rules by which the dialog's entries are
// accepted, with the program's own messages.
#include "core/settings.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string.h>

namespace {

// Each row splits as shown, and joins back to its whole seconds: the
// milliseconds below a second are all a round trip loses.
TEST(Interval, SplitDropsPartialSecondsDoesNotCapHoursAndJoinsBackToWholeSeconds)
{
    const struct { unsigned int ms, hours, minutes, seconds; } cases[] = {
        {10000u, 0, 0, 10},             // the default
        {5400000u, 1, 30, 0},
        {3600000u, 1, 0, 0},
        {7200000u, 2, 0, 0},
        {1500u, 0, 0, 1},               // the half second is not shown
        {61001u, 0, 1, 1},
        {999u, 0, 0, 0},
        {0u, 0, 0, 0},
        {3599999000u, 999, 59, 59},     // the largest interval
        {4294967295u, 1193, 2, 47},     // from the registry: more than the dialog allows
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.ms << " ms");
        unsigned int h = 77, m = 77, s = 77;
        SplitInterval(c.ms, &h, &m, &s);
        EXPECT_EQ(c.hours, h);
        EXPECT_EQ(c.minutes, m);
        EXPECT_EQ(c.seconds, s);
        EXPECT_EQ(c.ms / 1000u * 1000u, JoinInterval(h, m, s));
    }
}

// Messages as the program shows them, spelled out in code page 932 bytes so
// that a wrong source or execution charset cannot pass unnoticed.
const char kHoursBytes[] =
    "0\x82\xa9\x82\xe7" "999\x82\xdc\x82\xc5\x82\xcc\x90\xae\x90\x94\x82\xf0"
    "\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81\x42";
const char kMinutesBytes[] =
    "0\x82\xa9\x82\xe7" "59\x82\xdc\x82\xc5\x82\xcc\x90\xae\x90\x94\x82\xf0"
    "\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81\x42";
const char kPathBytes[] =
    "\x89\xb9\x90\xba\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x8e\x77\x92\xe8"
    "\x82\xaa\x96\xb3\x8c\xf8\x82\xc5\x82\xb7\x81\x42";

TEST(Validate, FirstFailingEntryWinsWithItsMessageAndFocus)
{
    char self[MAX_PATH];    // this test program, which exists
    GetModuleFileNameA(NULL, self, sizeof(self));
    const NumberEntry ok0 = {1, 0}, bad = {0, 0};
    const struct {
        const char *what; NumberEntry hours, minutes, seconds; const char *path; EntryField field; const char *message;
        int focusId;
    } cases[] = {
        {"all zero is valid", ok0, ok0, ok0, self, ENTRY_NONE, NULL, 0},
        {"largest values", {1, 999}, {1, 59}, {1, 59}, self, ENTRY_NONE, NULL, 0},
        {"1000 hours", {1, 1000}, ok0, ok0, self, ENTRY_HOURS, kHoursBytes, IDC_HOURS},
        {"empty hours field", bad, ok0, ok0, self, ENTRY_HOURS, kHoursBytes, IDC_HOURS},
        {"60 minutes", ok0, {1, 60}, ok0, self, ENTRY_MINUTES, kMinutesBytes, IDC_MINUTES},
        {"empty minutes field", ok0, bad, ok0, self, ENTRY_MINUTES, kMinutesBytes, IDC_MINUTES},
        {"60 seconds", ok0, ok0, {1, 60}, self, ENTRY_SECONDS, kMinutesBytes, IDC_SECONDS},
        {"huge seconds", ok0, ok0, {1, 4294967295u}, self, ENTRY_SECONDS, kMinutesBytes, IDC_SECONDS},
        {"missing file", ok0, ok0, ok0, "C:\\no\\such\\file.wav", ENTRY_PATH, kPathBytes, IDC_BROWSE},
        {"empty path", ok0, ok0, ok0, "", ENTRY_PATH, kPathBytes, IDC_BROWSE},
        {"a directory passes", ok0, ok0, ok0, "C:\\windows", ENTRY_NONE, NULL, 0},
        {"minutes and path wrong", ok0, {1, 75}, ok0, "C:\\no\\such.wav", ENTRY_MINUTES, kMinutesBytes, IDC_MINUTES},
        {"everything wrong", bad, bad, bad, "", ENTRY_HOURS, kHoursBytes, IDC_HOURS},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EntryFailure failure;
        memset(&failure, 0xCC, sizeof(failure));
        EXPECT_EQ(c.field, ValidateEntries(&c.hours, &c.minutes, &c.seconds, c.path, &failure));
        EXPECT_EQ(c.field, failure.field);
        if (c.message) {
            ASSERT_NE(nullptr, failure.message);
            EXPECT_STREQ(c.message, failure.message);
            EXPECT_EQ(c.focusId, failure.focusId);
        }
    }
}

// A field's text as the dialog reads it. Full-width digits (as the IME types
// them, ３ is 82 52) count as digits; anything else refuses the whole field.
TEST(Validate, NumberTextTakesAsciiAndFullWidthDigitsOnly)
{
    const struct { const char *text; int converted; unsigned int value; } cases[] = {
        {"30", 1, 30},
        {"\x82\x52\x82\x4f", 1, 30},            // ３０
        {"\x82\x58\x82\x58\x82\x58", 1, 999},   // ９９９
        {"1\x82\x54", 1, 15},                     // mixed: 1５
        {"  7", 1, 7},                              // pasted after blanks
        {"7 ", 0, 0},
        {"4294967296", 1, 0},                       // too large: refused by every limit
        {"\x82\x58\x82\x58\x82\x58\x82\x58\x82\x58\x82\x58\x82\x58\x82\x58\x82\x58\x82\x58\x82\x58", 1, 0},
        {"\x82\x52" "a", 0, 0},                    // ３a
        {"a\x82\x52", 0, 0},
        {"\x82\x52\x82", 0, 0},                    // ３ and half a character
        {"\x82\x60", 0, 0},                        // Ａ, the next character after ９
        {"\x81\x82\x4f", 0, 0},                    // a character whose trail is 82, then O
        {"", 0, 0},
        {"  ", 0, 0},
        {"1 2", 0, 0},
        {"-1", 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "[" << c.text << "]");
        NumberEntry entry = {-1, 12345u};
        ConvertNumberText(c.text, &entry);
        EXPECT_EQ(c.converted, entry.converted);
        EntryFailure failure;
        if (c.converted && c.value) {
            EXPECT_EQ(c.value, entry.value);
        } else if (c.converted) {
            EXPECT_FALSE(CheckNumberEntry(ENTRY_HOURS, &entry, &failure));
        }
    }
}

TEST(Validate, DefaultsAreTheDocumentedOnes)
{
    EXPECT_EQ(10000u, g_intervalMs);
    EXPECT_STREQ("Orvel.mp3", g_soundPath);
}

TEST(Validate, CutKeepsWholeDoubleByteCharacters)
{
    // "表" is 95 5C in code page 932: its trail byte is a backslash.
    const struct { const char *text; int limit; const char *expected; } cases[] = {
        {"ab\x95\x5c" "c", 3, "ab"},            // would split 表
        {"ab\x95\x5c" "c", 4, "ab\x95\x5c"},
        {"\x83\x5c\x83\x5c", 3, "\x83\x5c"},    // ソソ
        {"abc", 10, "abc"},
        {"ab\x95", 10, "ab"},                   // the platform already cut inside 表
        {"ab\xb1", 10, "ab\xb1"},               // half-width ｱ is one whole byte
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "[" << c.text << "] at " << c.limit);
        char text[16];
        strcpy(text, c.text);
        CutAtCharBoundary(text, c.limit);
        EXPECT_STREQ(c.expected, text);
    }
}

}  // namespace
