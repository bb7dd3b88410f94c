#include "update/removal_pattern.h"

#include "startup/path_text.h"

bool IsConfinedPattern(const char* line)
{
    return IsConfinedRelativePath(line);
}

int FirstBackslashIndex(const char* line)
{
    for (int i = 0; line[i] != '\0'; ++i) {
        if (IsLeadByte((unsigned char)line[i]) && line[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (line[i] == '\\')
            return i;
    }
    return -1;
}
