// The two settings, the interval arithmetic and the validation of the
// settings dialog's entries. No window header: this is plain data and
// arithmetic, plus the one existence test of a path.
#ifndef HALVORY_CORE_SETTINGS_H
#define HALVORY_CORE_SETTINGS_H

#define SOUND_PATH_SIZE     260     // 259 bytes of code page 932 text and a NUL
#define DEFAULT_INTERVAL_MS 10000u
#define DEFAULT_SOUND_PATH  "Orvel.mp3"
#define MAX_HOURS           999u
#define MAX_MINUTES         59u
#define MAX_SECONDS         59u

extern unsigned int g_intervalMs;           // milliseconds from one chime to the next
extern char g_soundPath[SOUND_PATH_SIZE];   // shared in place: the next play uses it

// One number field as the dialog's unsigned conversion gives it.
struct NumberEntry {
    int converted;          // nonzero when the text was a number
    unsigned int value;
};

enum EntryField {
    ENTRY_NONE = 0,         // every entry passed
    ENTRY_HOURS,
    ENTRY_MINUTES,
    ENTRY_SECONDS,
    ENTRY_PATH
};

struct EntryFailure {
    EntryField field;
    const char *message;    // code page 932, shown in a warning box
    int focusId;            // the dialog control that gets the focus
};

void SplitInterval(unsigned int ms, unsigned int *hours, unsigned int *minutes,
                   unsigned int *seconds);
unsigned int JoinInterval(unsigned int hours, unsigned int minutes, unsigned int seconds);

// Judges one entry; for ENTRY_PATH the entry is the path text, otherwise the
// number. Returns nonzero when it passes, else fills *failure.
int CheckNumberEntry(EntryField field, const NumberEntry *entry, EntryFailure *failure);
int CheckPathEntry(const char *path, EntryFailure *failure);

// Judges all four in order and reports the first failure, or ENTRY_NONE.
EntryField ValidateEntries(const NumberEntry *hours, const NumberEntry *minutes,
                           const NumberEntry *seconds, const char *path,
                           EntryFailure *failure);

// The message of a path that names nothing, also for a chosen file the
// program cannot hold.
extern const char kPathMessage[];

// A number field's text as the dialog reads it: decimal digits, ASCII or
// the full-width ones of code page 932 (０ to ９, as the IME types them), at
// least one, after blanks at most; anything else does not convert. A
// number too large for any field converts to a value above every limit.
void ConvertNumberText(const char *text, NumberEntry *entry);

// Cuts text to at most maxBytes bytes without leaving half of a double-byte
// code page 932 character at the end.
void CutAtCharBoundary(char *text, int maxBytes);

#endif
