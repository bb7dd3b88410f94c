// The key/value reader of install.env, apart from the file: the updater's LoadSettings, the
// builder's lint and the tests all feed it lines through a ReadLineFunction.
#ifndef UPDATER_SETTINGS_SETTINGS_READER_H
#define UPDATER_SETTINGS_SETTINGS_READER_H

#include "settings/text_mode.h"
#include "text/buffer_sizes.h"

#define SETTINGS_MAX_LINES 400
#define SETTINGS_MAX_GAP 99

// What the reader made of a line: the first four are what SplitKeyLine says, the last two
// end the reading.
enum KeyLineKind {
    KEYLINE_PAIR = 0,          // key and value found
    KEYLINE_IGNORED = 1,       // blank, comment, or starts with a separator
    KEYLINE_NO_VALUE = 2,      // a key and nothing after it
    KEYLINE_GAP_TOO_LONG = 3,  // the value stands more than 99 separators after the key
    KEYLINE_END_MARKER = 4,    // "[EOF]": nothing after it is read
    KEYLINE_LINE_LIMIT = 5,    // 400 lines were read; told without a line, nothing more is read
};

struct KeyLine {
    int keyLength;   // the key is line[0, keyLength)
    int valueStart;  // the value is line[valueStart, valueStart + valueLength)
    int valueLength;
};

// Told of every line the reader reads, and of the line limit when it stops there. line is the
// line as read (NULL with KEYLINE_LINE_LIMIT); parts only with KEYLINE_PAIR.
typedef void (*KeyLineObserver)(void* context, int kind, const char* line, const KeyLine* parts);

// Splits one line (as read, line feed included) by the key-line rules.
int SplitKeyLine(const char* line, KeyLine* parts);
// True when the line ends the key lines ("[EOF]" in its first five bytes).
bool IsSettingsEndLine(const char* line);
// Reads key lines until the end, "[EOF]" or 400 lines, appending each pair to the table.
// observe may be NULL.
void ReadSettingsLines(ReadLineFunction readLine, void* context, KeyLineObserver observe, void* observerContext);

#endif
