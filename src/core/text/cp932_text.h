// Code page 932 text, one character at a time. The updater, mkupdate (build, verify, extract,
// list) and lint all use these, so a name one of them accepts is a name every other one handles
// the same way (the rules for entry names are in text/entry_name_rules.h). A backslash or "|"
// is a character of its own only outside a double-byte character: the second byte of 表 (0x95 0x5C)
// is never a separator.
#ifndef UPDATER_TEXT_CP932_TEXT_H
#define UPDATER_TEXT_CP932_TEXT_H

#include <stddef.h>

// True for 0x81-0x9F and 0xE0-0xFC, whatever the system's code page.
bool IsLeadByte(unsigned char byte);

// Index of the character after the one that starts at text[index]: a lead byte with a byte after
// it spans two bytes; anything else, a lead byte standing last included, one.
int NextCharacter(const char* text, int index);

// True when text[index] is the second byte of a double-byte character, scanning from the start.
bool IsTrailByteAt(const char* text, int index);

// The first match of needle in text, or none; a match only begins on a character boundary, so
// "|" or a backslash is never found in the second byte of a double-byte character. An empty
// needle matches at the start. FindCp932 gives the byte index, or -1.
const char* FindCharacters(const char* text, const char* needle);
int FindCp932(const char* text, const char* needle);

// Byte index of the first / last backslash that is a separator, or -1. LastSeparator looks only
// at the first `length` bytes.
int FirstSeparator(const char* text);
int LastSeparator(const char* text, int length);

// True when the last byte is a backslash and the byte before it is not a lead byte (or there is
// none): the trailing-separator rule of the path helpers, which look only at those two bytes.
bool EndsWithSeparator(const char* text);

// Length of the folder that holds an entry, its separator included: the name up to its last
// separator, a folder entry's own trailing separator left out; 0 at the top level.
int ParentFolderLength(const char* name, bool folder);

// Lower-cases in place: single-byte A-Z, and the full-width Latin, Greek and Cyrillic capitals
// as whole double-byte characters (a trail byte is never touched on its own).
void LowerCp932(char* text);

// Index of the first byte from which `text` (of `length` bytes) is not valid code page 932: a
// byte no character starts with (0x80, 0xA0, 0xFD-0xFF), a lead byte standing last, a lead byte
// followed by a byte that cannot end a character, or a double-byte character code page 932 does
// not assign (Windows would turn it into "?" or refuse it). -1 when the whole text is valid.
long FindInvalidCp932(const char* text, size_t length);

// Folds in place to the one form of every spelling Windows takes as the same file name: lower
// case of every letter code page 932 has (single-byte and full-width Latin, Greek, Cyrillic,
// Roman numerals), and one encoding of each character that code page 932 encodes more than once
// (NEC row 13, the NEC-selected IBM extensions, the IBM extensions). Two names are one file on
// Windows exactly when their folded forms are equal. Half-width and full-width forms stay apart,
// as they do on Windows.
void FoldCp932Name(char* text);

#endif
