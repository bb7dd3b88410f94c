// The rules of one entry name (text/entry_name_rules.h).
#include "text/entry_name_rules.h"

#include <string.h>

#include "text/cp932_text.h"
#include "text/path_text.h"

static char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - ('a' - 'A')) : c;
}

// The same ASCII letters in any case (both sides are folded).
static bool SameLetters(const char* text, size_t length, const char* other)
{
    if (strlen(other) != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (UpperAscii(text[i]) != UpperAscii(other[i]))
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

static bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsUpdateTemporaryName(const char* component, size_t length)
{
    if (length != UPDATE_TEMPORARY_NAME_LENGTH || !SameLetters(component, 4, UPDATE_TEMPORARY_PREFIX) ||
        !SameLetters(component + 8, 4, UPDATE_TEMPORARY_SUFFIX))
        return false;
    for (size_t i = 4; i < 8; ++i) {
        if (!IsHexDigit(component[i]))
            return false;
    }
    return true;
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
    if (SameLetters(component, length, UPDATE_JOURNAL_NAME) || IsUpdateTemporaryName(component, length))
        return ENTRY_NAME_RESERVED;
    return ENTRY_NAME_OK;
}

int CheckEntryName(const char* name, bool folder)
{
    size_t length = strlen(name);
    if (length == 0)
        return ENTRY_NAME_EMPTY;
    long invalid = FindInvalidCp932(name, length);
    if (invalid >= 0) {
        // Well formed but empty in the code page: Windows would write "?" or refuse the name.
        unsigned char trail = (unsigned char)name[invalid + 1];
        if (IsLeadByte((unsigned char)name[invalid]) && trail >= 0x40 && trail <= 0xFC && trail != 0x7F)
            return ENTRY_NAME_UNASSIGNED;
        return ENTRY_NAME_NOT_CP932;
    }
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
    case ENTRY_NAME_UNASSIGNED:
        return "a character that code page 932 does not assign";
    case ENTRY_NAME_RESERVED:
        return "a name the updater keeps for itself (" UPDATE_JOURNAL_NAME " or ~updXXXX.tmp, in any folder)";
    case ENTRY_NAME_FOLDER_FORM:
        return "a folder name that does not end with a backslash, or a file name that does";
    }
    return "an unknown fault";
}
