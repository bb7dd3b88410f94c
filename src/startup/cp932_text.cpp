// Core. Code page 932 text one character at a time, and the entry-name rules
// (startup/cp932_text.h).
#include "startup/cp932_text.h"

#include <string.h>

#include "startup/path_text.h"

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

static bool SameLetters(const char* text, size_t length, const char* upper)
{
    if (strlen(upper) != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = (char)(c - ('a' - 'A'));
        if (c != upper[i])
            return false;
    }
    return true;
}

// Windows opens a device for these names in any folder, with any extension ("nul.txt"), and
// ignores blanks before the extension.
static bool IsDeviceComponent(const char* component, size_t length)
{
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    size_t base = 0;
    while (base < length && component[base] != '.')
        ++base;
    while (base > 0 && component[base - 1] == ' ')
        --base;
    for (const char* device : kDevices) {
        if (SameLetters(component, base, device))
            return true;
    }
    if (base == 4 && component[3] >= '1' && component[3] <= '9')
        return SameLetters(component, 3, "COM") || SameLetters(component, 3, "LPT");
    return false;
}

// The rules for one component (the bytes between separators).
static int CheckComponent(const char* component, size_t length)
{
    if (length == 0)
        return ENTRY_NAME_EMPTY;
    char last = component[length - 1];
    if (last == '.' || last == ' ')
        return ENTRY_NAME_TRAILING_DOT;
    if (IsDeviceComponent(component, length))
        return ENTRY_NAME_DEVICE;
    return ENTRY_NAME_OK;
}

int CheckEntryName(const char* name, bool folder)
{
    size_t length = strlen(name);
    if (length == 0)
        return ENTRY_NAME_EMPTY;
    if (FindInvalidCp932(name, length) >= 0)
        return ENTRY_NAME_NOT_CP932;
    if (!IsConfinedRelativePath(name))
        return ENTRY_NAME_LEAVES_FOLDER;
    if (folder != (LastSeparator(name, (int)length) == (int)length - 1))
        return ENTRY_NAME_FOLDER_FORM;
    // Valid code page 932 from here on: every lead byte has its second byte.
    int componentStart = 0;
    int end = folder ? (int)length - 1 : (int)length;
    for (int i = 0;; i = NextCharacter(name, i)) {
        unsigned char byte = i < end ? (unsigned char)name[i] : '\0';
        if (byte != '\0' && IsLeadByte(byte))
            continue;
        if (byte != '\0' && (byte < 0x20 || byte == 0x7F))
            return ENTRY_NAME_CONTROL_BYTE;
        if (byte != '\0' && strchr("*?<>|\"/", byte) != NULL)
            return ENTRY_NAME_FORBIDDEN;
        if (byte == '\\' || byte == '\0') {
            int fault = CheckComponent(name + componentStart, (size_t)(i - componentStart));
            if (fault != ENTRY_NAME_OK)
                return fault;
            if (byte == '\0')
                return ENTRY_NAME_OK;
            componentStart = i + 1;
        }
    }
}

const char* DescribeEntryNameFault(int fault)
{
    switch (fault) {
    case ENTRY_NAME_OK:
        return "a sound name";
    case ENTRY_NAME_EMPTY:
        return "an empty name or an empty part between backslashes";
    case ENTRY_NAME_NOT_CP932:
        return "bytes that are not code page 932 (Shift-JIS) text";
    case ENTRY_NAME_CONTROL_BYTE:
        return "a control character";
    case ENTRY_NAME_FORBIDDEN:
        return "one of * ? < > | \" / (not allowed in Windows file names)";
    case ENTRY_NAME_LEAVES_FOLDER:
        return "a name that leaves the destination folder (a drive, a colon, a leading backslash or a '..' part)";
    case ENTRY_NAME_TRAILING_DOT:
        return "a part ending in a dot or a space (Windows drops them)";
    case ENTRY_NAME_DEVICE:
        return "a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension)";
    case ENTRY_NAME_FOLDER_FORM:
        return "a folder name that does not end with a backslash, or a file name that does";
    }
    return "an unknown fault";
}
