// Code page 932 path text: lead-byte test and the trailing-backslash rules. A backslash is
// only a separator outside a double-byte character (表 is 0x95 0x5C).
#ifndef UPDATER_TEXT_PATH_TEXT_H
#define UPDATER_TEXT_PATH_TEXT_H

#include <stdint.h>

#include "text/cp932_text.h"

// Removes one trailing backslash unless it is the second byte of a double-byte character.
char* StripTrailingBackslash(char* path);

// Appends a backslash unless the path already ends in a separating one; the buffer must have
// room for one more byte.
char* EnsureTrailingBackslash(char* path);

// Copies at most size - 1 bytes and always terminates (size > 0).
void CopyText(char* destination, const char* source, int size);

// Length of the drive-and-folder part of a path: up to and including its last separator
// (a backslash or slash outside a double-byte character, or the drive's colon); 0 for none.
int FolderPartLength(const char* path);

// False for a path that would reach outside the folder it is taken relative to: a leading
// backslash or slash, a colon (drive or stream), or a component of two or more dots (with
// blanks: Windows trims trailing dots and blanks, so "..." and ". ." climb like "..").
bool IsConfinedRelativePath(const char* path);

// path (PATH_BUFFER_SIZE bytes) = folder, a backslash and relative; false, with path cut but
// terminated, when that does not fit: a path that does not fit must never be acted on.
bool JoinPath(char* path, const char* folder, const char* relative);

// result = the drive and folder of pattern followed by name, cut to size - 1 bytes.
void ComposeMatchPath(char* result, int size, const char* pattern, const char* name);

// Whether a reparse point with this tag (a Windows file's reparse tag) leads somewhere else: a
// symbolic link, a junction or mount point (the system's name surrogates), or one whose kind is
// not told (tag 0). Files and folders that a system feature keeps as reparse points in place
// (compressed by compact.exe, deduplicated, cloud placeholders such as OneDrive's) are not links.
bool IsLinkReparseTag(uint32_t tag);

#endif
