// The key-line rules and the reading loop that fills the settings table.
#include "settings/settings_reader.h"

#include <string.h>

#include "settings/settings.h"

int SplitKeyLine(const char* line, KeyLine* parts)
{
    if (IsSeparatorByte(line[0]) || line[0] == '/')
        return KEYLINE_IGNORED;
    int keyLength = 0;
    while (!IsSeparatorByte(line[keyLength]))
        keyLength++;
    int valueStart = keyLength;
    while (line[valueStart] != '\0' && IsSeparatorByte(line[valueStart]))
        valueStart++;
    if (line[valueStart] == '\0')
        return KEYLINE_NO_VALUE;
    if (valueStart - keyLength > SETTINGS_MAX_GAP)
        return KEYLINE_GAP_TOO_LONG;
    int valueEnd = valueStart;
    while (!IsSeparatorByte(line[valueEnd]))
        valueEnd++;
    parts->keyLength = keyLength;
    parts->valueStart = valueStart;
    parts->valueLength = valueEnd - valueStart;
    return KEYLINE_PAIR;
}

bool IsSettingsEndLine(const char* line)
{
    return strncmp(line, "[EOF]", 5) == 0;
}

void ReadSettingsLines(ReadLineFunction readLine, void* context, KeyLineObserver observe, void* observerContext)
{
    char line[TEXT_BUFFER_SIZE];
    for (int count = 0; count < SETTINGS_MAX_LINES; count++) {
        if (readLine(line, sizeof line, context) == NULL)
            return;
        if (IsSettingsEndLine(line)) {
            if (observe != NULL)
                observe(observerContext, KEYLINE_END_MARKER, line, NULL);
            return;
        }
        KeyLine parts;
        int kind = SplitKeyLine(line, &parts);
        if (kind == KEYLINE_PAIR)
            AddSetting(line, parts.keyLength, line + parts.valueStart, parts.valueLength);
        if (observe != NULL)
            observe(observerContext, kind, line, kind == KEYLINE_PAIR ? &parts : NULL);
    }
    if (observe != NULL)
        observe(observerContext, KEYLINE_LINE_LIMIT, NULL, NULL);
}
