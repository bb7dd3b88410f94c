#include "package/entry_names.h"

#include <string.h>

#include "startup/path_text.h"

static const char* const kSetupMarkers[] = {"insttscr.rct", "install.env", ".txt"};

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
    for (int i = 0; text[i] != '\0'; ++i) {
        unsigned char byte = (unsigned char)text[i];
        if (IsLeadByte(byte) && text[i + 1] != '\0') {
            unsigned lower = LowerDoubleByte((unsigned)byte << 8 | (unsigned char)text[i + 1]);
            text[i] = (char)(lower >> 8);
            text[i + 1] = (char)(lower & 0xFF);
            ++i;
        } else if (byte >= 'A' && byte <= 'Z') {
            text[i] = (char)(byte + ('a' - 'A'));
        }
    }
}

int FindCp932(const char* text, const char* needle)
{
    size_t needleLength = strlen(needle);
    for (int i = 0; text[i] != '\0'; ++i) {
        if (strncmp(text + i, needle, needleLength) == 0)
            return i;
        if (IsLeadByte((unsigned char)text[i]) && text[i + 1] != '\0')
            ++i;
    }
    return needleLength == 0 ? 0 : -1;
}

int FindSeparator(const char* text)
{
    return FindCp932(text, "\\");
}

bool IsSetupFileName(const char* name)
{
    for (const char* marker : kSetupMarkers) {
        char lowerName[ENTRY_PATH_SIZE];
        char lowerMarker[ENTRY_PATH_SIZE];
        CopyText(lowerName, name, ENTRY_PATH_SIZE);
        CopyText(lowerMarker, marker, ENTRY_PATH_SIZE);
        LowerCp932(lowerName);
        LowerCp932(lowerMarker);
        if (FindCp932(lowerName, lowerMarker) >= 0)
            return true;
    }
    return false;
}

int SetupPassStep(const PackageEntry* entry)
{
    if (IsFolderEntry(entry)) {
        int separator = FindSeparator(entry->name);
        if (separator >= 0 && entry->name[separator + 1] != '\0')
            return SETUP_END;
        return SETUP_SKIP;
    }
    return IsSetupFileName(entry->name) ? SETUP_EXTRACT : SETUP_SKIP;
}

bool IsRelativeEntryName(const char* name)
{
    return IsConfinedRelativePath(name);
}

bool IsSafeEntryName(const char* destinationFolder, const char* name)
{
    if (!IsRelativeEntryName(name))
        return false;
    return strlen(destinationFolder) + 1 + strlen(name) <= ENTRY_PATH_SIZE - 1;
}
