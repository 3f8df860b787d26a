// The settings with their defaults, the interval arithmetic and the entry rules.
#include "core/settings.h"
#include "res/resource.h"

// Only the file system query is needed from the platform here.
#include <windef.h>
#include <winbase.h>

unsigned int g_intervalMs = DEFAULT_INTERVAL_MS;
char g_soundPath[SOUND_PATH_SIZE] = DEFAULT_SOUND_PATH;

static const char kHoursMessage[] = "0から999までの整数を入力してください。";
static const char kMinutesSecondsMessage[] = "0から59までの整数を入力してください。";
extern const char kPathMessage[] = "音声ファイルの指定が無効です。";

void SplitInterval(unsigned int ms, unsigned int *hours, unsigned int *minutes,
                   unsigned int *seconds)
{
    // Milliseconds below a whole second are dropped; hours are not capped.
    unsigned int totalSeconds = ms / 1000u;
    unsigned int totalMinutes = totalSeconds / 60u;
    *hours = totalMinutes / 60u;
    *minutes = totalMinutes % 60u;
    *seconds = totalSeconds % 60u;
}

unsigned int JoinInterval(unsigned int hours, unsigned int minutes, unsigned int seconds)
{
    return ((hours * 3600u + minutes * 60u) + seconds) * 1000u;
}

static void Fail(EntryFailure *failure, EntryField field, const char *message, int focusId)
{
    failure->field = field;
    failure->message = message;
    failure->focusId = focusId;
}

int CheckNumberEntry(EntryField field, const NumberEntry *entry, EntryFailure *failure)
{
    unsigned int limit = MAX_SECONDS;
    const char *message = kMinutesSecondsMessage;
    int focusId = IDC_SECONDS;

    if (field == ENTRY_HOURS) {
        limit = MAX_HOURS;
        message = kHoursMessage;
        focusId = IDC_HOURS;
    } else if (field == ENTRY_MINUTES) {
        limit = MAX_MINUTES;
        focusId = IDC_MINUTES;
    }
    if (entry->converted && entry->value <= limit)
        return 1;
    Fail(failure, field, message, focusId);
    return 0;
}

int CheckPathEntry(const char *path, EntryFailure *failure)
{
    // Anything that exists passes, a folder too; the content is not examined.
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return 1;
    // The focus goes to Browse: choosing a file is the way out of this error.
    Fail(failure, ENTRY_PATH, kPathMessage, IDC_BROWSE);
    return 0;
}

EntryField ValidateEntries(const NumberEntry *hours, const NumberEntry *minutes,
                           const NumberEntry *seconds, const char *path,
                           EntryFailure *failure)
{
    if (!CheckNumberEntry(ENTRY_HOURS, hours, failure)
        || !CheckNumberEntry(ENTRY_MINUTES, minutes, failure)
        || !CheckNumberEntry(ENTRY_SECONDS, seconds, failure)
        || !CheckPathEntry(path, failure))
        return failure->field;
    failure->field = ENTRY_NONE;
    failure->message = 0;
    failure->focusId = 0;
    return ENTRY_NONE;
}

static int IsLeadByte932(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

void CutAtCharBoundary(char *text, int maxBytes)
{
    // Walk whole characters; a trail byte may look like anything (even '\\'),
    // so only a walk from the start knows where characters begin. A lead byte
    // whose trail is missing (the platform cut the text inside a character) is
    // half a character too: kept, it would swallow the NUL when the text is
    // converted, and the stored path would have no end.
    int i = 0;
    while (text[i] != '\0') {
        int lead = IsLeadByte932((unsigned char)text[i]);
        if (lead && text[i + 1] == '\0')
            break;
        int width = lead ? 2 : 1;
        if (i + width > maxBytes)
            break;
        i += width;
    }
    text[i] = '\0';
}

void ConvertNumberText(const char *text, NumberEntry *entry)
{
    const unsigned char *p = (const unsigned char *)text;
    unsigned int value = 0;
    int digits = 0;
    while (*p == ' ')
        p++;    // leading blanks, as the platform's own conversion skips them
    for (;; digits++) {
        // A full-width digit is 82 4F to 82 58. The walk stops at the first
        // character that is not a digit, so it is always at the start of a
        // character, and a trail byte is never taken for a lead.
        unsigned int digit = *p - '0';
        int width = 1;
        if (*p == 0x82) {
            digit = p[1] - 0x4Fu;
            width = 2;
        }
        if (digit > 9)
            break;
        // Held above every limit once past it, so that a long number is
        // refused as too large and never wraps round to a small one.
        if (value < 100000u)
            value = value * 10u + digit;
        p += width;
    }
    entry->converted = digits > 0 && *p == '\0';
    entry->value = value;   // of no meaning when it did not convert
}
