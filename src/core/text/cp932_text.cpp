// Code page 932 text one character at a time (text/cp932_text.h).
#include "text/cp932_text.h"

#include <string.h>

bool IsLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

int NextCharacter(const char* text, int index)
{
    return IsLeadByte((unsigned char)text[index]) && text[index + 1] != '\0' ? index + 2 : index + 1;
}

bool IsTrailByteAt(const char* text, int index)
{
    int i = 0;
    while (i < index)
        i = NextCharacter(text, i);
    return i > index;
}

const char* FindCharacters(const char* text, const char* needle)
{
    size_t needleLength = strlen(needle);
    for (int i = 0; text[i] != '\0'; i = NextCharacter(text, i)) {
        if (strncmp(text + i, needle, needleLength) == 0)
            return text + i;
    }
    return needleLength == 0 ? text : NULL;
}

int FindCp932(const char* text, const char* needle)
{
    const char* found = FindCharacters(text, needle);
    return found != NULL ? (int)(found - text) : -1;
}

int FirstSeparator(const char* text)
{
    return FindCp932(text, "\\");
}

int LastSeparator(const char* text, int length)
{
    int last = -1;
    for (int i = 0; i < length && text[i] != '\0'; i = NextCharacter(text, i)) {
        if (text[i] == '\\')
            last = i;
    }
    return last;
}

bool EndsWithSeparator(const char* text)
{
    size_t length = strlen(text);
    if (length == 0 || text[length - 1] != '\\')
        return false;
    return length == 1 || !IsLeadByte((unsigned char)text[length - 2]);
}

int ParentFolderLength(const char* name, bool folder)
{
    int length = (int)strlen(name);
    return LastSeparator(name, folder ? length - 1 : length) + 1;
}

// Capitals of code page 932 that have a lower-case form, as ranges of whole characters.
struct CaseRange {
    unsigned first;
    unsigned last;
    unsigned lower;  // lower-case form of `first`
};
static const CaseRange kCaseRanges[] = {
    {0x8260, 0x8279, 0x8281},  // full-width A-Z
    {0x839F, 0x83B6, 0x83BF},  // Greek
    {0x8440, 0x844E, 0x8470},  // Cyrillic, up to the gap at 0x847F
    {0x844F, 0x8460, 0x8480},
};

static unsigned LowerDoubleByte(unsigned character)
{
    for (const CaseRange& range : kCaseRanges) {
        if (character >= range.first && character <= range.last)
            return range.lower + (character - range.first);
    }
    return character;
}

void LowerCp932(char* text)
{
    for (int i = 0; text[i] != '\0'; i = NextCharacter(text, i)) {
        unsigned char byte = (unsigned char)text[i];
        if (IsLeadByte(byte) && text[i + 1] != '\0') {
            unsigned lower = LowerDoubleByte((unsigned)byte << 8 | (unsigned char)text[i + 1]);
            text[i] = (char)(lower >> 8);
            text[i + 1] = (char)(lower & 0xFF);
        } else if (byte >= 'A' && byte <= 'Z') {
            text[i] = (char)(byte + ('a' - 'A'));
        }
    }
}

long FindInvalidCp932(const char* text, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        unsigned char byte = (unsigned char)text[i];
        if (IsLeadByte(byte)) {
            unsigned char trail = i + 1 < length ? (unsigned char)text[i + 1] : 0;
            if (trail < 0x40 || trail == 0x7F || trail > 0xFC)
                return (long)i;
            i++;
        } else if (byte == 0x80 || byte == 0xA0 || byte >= 0xFD) {
            return (long)i;
        }
    }
    return -1;
}
