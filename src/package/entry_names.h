// Rules for the names that package entries carry, as code page 932 text: which entries are
// setup files, how the setup pass treats each entry, and which names may be written at all.
#ifndef UPDATER_PACKAGE_ENTRY_NAMES_H
#define UPDATER_PACKAGE_ENTRY_NAMES_H

#include "package/package_format.h"

#define ENTRY_PATH_SIZE 260  // destination path buffers: 259 bytes and a terminator

// Lower-cases in place: single-byte A-Z, and the full-width Latin, Greek and Cyrillic capitals
// as whole double-byte characters (a trail byte is never touched on its own).
void LowerCp932(char* text);

// Byte index of the first match of needle in text, or -1. A match only begins on a character
// boundary, so a trail byte is never the start of one.
int FindCp932(const char* text, const char* needle);

// Byte index of the first backslash that is a separator (not a trail byte), or -1.
int FindSeparator(const char* text);

// True when the name contains "insttscr.rct", "install.env" or ".txt", case ignored.
bool IsSetupFileName(const char* name);

enum SetupStep {
    SETUP_SKIP = 0,     // passed over: a top-level folder, or a file that is no setup file
    SETUP_EXTRACT = 1,  // a setup file: extracted into the work folder
    SETUP_END = 2,      // a nested folder: the setup pass ends before it
};
// What the setup pass does with an entry. A folder entry without any separator is passed over.
int SetupPassStep(const PackageEntry* entry);

// True when the name stays inside its destination folder: no drive or colon, no leading
// backslash or slash, no component made only of dots and spaces with two dots or more ("..").
bool IsRelativeEntryName(const char* name);

// IsRelativeEntryName, and "%s\\%s" of the folder and the name fits 259 bytes.
bool IsSafeEntryName(const char* destinationFolder, const char* name);

#endif
