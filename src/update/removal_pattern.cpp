#include "update/removal_pattern.h"

#include "startup/path_text.h"

// The platform drops trailing dots and blanks from a component, so "..", "..." and ". ." all
// climb to the parent.
static bool IsParentComponent(const char* start, int length)
{
    int dots = 0;
    for (int i = 0; i < length; ++i) {
        if (start[i] == '.')
            ++dots;
        else if (start[i] != ' ')
            return false;
    }
    return dots >= 2;
}

bool IsConfinedPattern(const char* line)
{
    if (line[0] == '\\' || line[0] == '/')
        return false;
    int componentStart = 0;
    for (int i = 0;; ++i) {
        unsigned char byte = (unsigned char)line[i];
        if (IsLeadByte(byte) && line[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (byte == ':')
            return false;
        if (byte == '\\' || byte == '/' || byte == '\0') {
            if (IsParentComponent(line + componentStart, i - componentStart))
                return false;
            if (byte == '\0')
                return true;
            componentStart = i + 1;
        }
    }
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
