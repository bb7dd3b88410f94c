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

// The double-byte characters code page 932 assigns (what Windows converts to UTF-16), as runs of
// consecutive characters: rows 9-12, 14 and the ends of some rows are empty, and so is the gap
// between the NEC-selected and the IBM extensions. The user-defined rows 0xF040-0xF9FC count as
// assigned: Windows maps them to the private use area, so such a name can be written.
static const unsigned short kAssignedRuns[][2] = {
    {0x8140, 0x81AC}, {0x81B8, 0x81BF}, {0x81C8, 0x81CE}, {0x81DA, 0x81E8}, {0x81F0, 0x81F7},
    {0x81FC, 0x81FC}, {0x824F, 0x8258}, {0x8260, 0x8279}, {0x8281, 0x829A}, {0x829F, 0x82F1},
    {0x8340, 0x8396}, {0x839F, 0x83B6}, {0x83BF, 0x83D6}, {0x8440, 0x8460}, {0x8470, 0x8491},
    {0x849F, 0x84BE}, {0x8740, 0x875D}, {0x875F, 0x8775}, {0x877E, 0x879C}, {0x889F, 0x9872},
    {0x989F, 0xEAA4}, {0xED40, 0xEEEC}, {0xEEEF, 0xEEFC}, {0xF040, 0xFC4B},
};

// Position of a double-byte character among all 60 x 188 lead and trail byte pairs, so a run
// that crosses a trail byte 0x7F or the end of a row stays one run.
static int CharacterIndex(unsigned character)
{
    unsigned lead = character >> 8, trail = character & 0xFF;
    int row = lead <= 0x9F ? (int)lead - 0x81 : (int)lead - 0xE0 + 31;
    int column = trail < 0x7F ? (int)trail - 0x40 : (int)trail - 0x41;
    return row * 188 + column;
}

static unsigned CharacterAt(int index)
{
    int row = index / 188, column = index % 188;
    unsigned lead = row < 31 ? 0x81u + (unsigned)row : 0xE0u + (unsigned)(row - 31);
    unsigned trail = column < 0x3F ? 0x40u + (unsigned)column : 0x41u + (unsigned)column;
    return lead << 8 | trail;
}

static bool IsAssignedDoubleByte(unsigned character)
{
    int index = CharacterIndex(character);
    for (const auto& run : kAssignedRuns) {
        if (index >= CharacterIndex(run[0]) && index <= CharacterIndex(run[1]))
            return true;
    }
    return false;
}

long FindInvalidCp932(const char* text, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        unsigned char byte = (unsigned char)text[i];
        if (IsLeadByte(byte)) {
            unsigned char trail = i + 1 < length ? (unsigned char)text[i + 1] : 0;
            if (trail < 0x40 || trail == 0x7F || trail > 0xFC || !IsAssignedDoubleByte((unsigned)byte << 8 | trail))
                return (long)i;
            i++;
        } else if (byte == 0x80 || byte == 0xA0 || byte >= 0xFD) {
            return (long)i;
        }
    }
    return -1;
}

// Characters Windows takes as one in a file name, each run mapped to one form: the lower case of
// the letters (full-width Latin, Greek, Cyrillic, Roman numerals) and one encoding of a character
// that code page 932 encodes twice or three times (NEC row 13, the NEC-selected IBM extensions and
// the IBM extensions convert to the same UTF-16). Runs count in CharacterIndex order.
struct FoldRun {
    unsigned short first;
    unsigned short count;
    unsigned short to;  // the form of `first`; the run maps one to one from there
};
static const FoldRun kFoldRuns[] = {
    {0x8260, 26, 0x8281},   // full-width A-Z
    {0x839F, 24, 0x83BF},   // Greek capitals
    {0x8440, 33, 0x8470},   // Cyrillic capitals (the run steps over 0x847F)
    {0x8754, 10, 0xEEEF},   // NEC Roman numerals I-X: lower case, in the NEC-selected IBM form
    {0x8790, 1, 0x81E0},    // NEC row 13 symbols that row 2 has too
    {0x8791, 1, 0x81DF},
    {0x8792, 1, 0x81E7},
    {0x8795, 1, 0x81E3},
    {0x8796, 1, 0x81DB},
    {0x8797, 1, 0x81DA},
    {0x879A, 1, 0x81E6},
    {0x879B, 1, 0x81BF},
    {0x879C, 1, 0x81BE},
    {0xEEF9, 1, 0x81CA},    // NEC-selected not sign
    {0xFA40, 10, 0xEEEF},   // IBM small Roman numerals
    {0xFA4A, 10, 0xEEEF},   // IBM Roman numerals: lower case
    {0xFA54, 1, 0x81CA},    // IBM not sign
    {0xFA55, 3, 0xEEFA},    // IBM broken bar, apostrophe, quotation mark
    {0xFA58, 1, 0x878A},
    {0xFA59, 1, 0x8782},
    {0xFA5A, 1, 0x8784},
    {0xFA5B, 1, 0x81E6},
    {0xFA5C, 360, 0xED40},  // IBM kanji: the NEC-selected form
};

void FoldCp932Name(char* text)
{
    for (int i = 0; text[i] != '\0'; i = NextCharacter(text, i)) {
        unsigned char byte = (unsigned char)text[i];
        if (IsLeadByte(byte) && text[i + 1] != '\0') {
            unsigned character = (unsigned)byte << 8 | (unsigned char)text[i + 1];
            int index = CharacterIndex(character);
            for (const FoldRun& run : kFoldRuns) {
                int first = CharacterIndex(run.first);
                if (index >= first && index < first + run.count) {
                    unsigned folded = CharacterAt(CharacterIndex(run.to) + (index - first));
                    text[i] = (char)(folded >> 8);
                    text[i + 1] = (char)(folded & 0xFF);
                    break;
                }
            }
        } else if (byte >= 'A' && byte <= 'Z') {
            text[i] = (char)(byte + ('a' - 'A'));
        }
    }
}
