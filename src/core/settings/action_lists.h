// The bracketed sections of install.env as five action lists, and the [ini] / [reg] entry
// parsers with their placeholders.
#ifndef UPDATER_SETTINGS_ACTION_LISTS_H
#define UPDATER_SETTINGS_ACTION_LISTS_H

#include "text/buffer_sizes.h"

#define SECTION_COUNT 6

struct ActionEntry {
    char* text;
    ActionEntry* next;
};

enum ActionSection {
    SECTION_NONE = 0,
    SECTION_DELFILES = 1,
    SECTION_DELFILES_USER = 2,
    SECTION_INI = 3,
    SECTION_REG = 4,
    SECTION_DELFILES_AFTERINST = 5,
};

ActionEntry* GetActionList(int section);
// Appends a copy of the line to the section's list; nothing when memory ran out.
void AppendActionEntry(int section, const char* line);
// Empties one list (a second header of a section starts it afresh).
void ClearActionList(int section);
// Releases every list (tests and fuzzers start afresh with it).
void FreeActionLists(void);

// The target folder "REP_INSTALL" stands for.
void SetInstallPath(const char* path);
// Where "REP_CDROMDRIVE" / "REP_CDROM" lead: FindCdromDrive in the updater; "E:\\" until set.
void SetDriveRootFinder(const char* (*findDriveRoot)(void));

// Each writes its result into its own 512-byte work buffer and returns it, or NULL when the
// result would not fit 511 bytes.
const char* UnescapeBackslashes(const char* text);
const char* ExpandIniPlaceholders(const char* text);
const char* ExpandRegPlaceholders(const char* text);

// What becomes of an [ini] or [reg] entry: taken, or why the updater skips it.
enum EntryVerdict {
    ENTRY_TAKEN = 0,
    ENTRY_NO_SEPARATOR = 1,  // no "=" ([ini]) or no "\"=\"" ([reg])
    ENTRY_TOO_LONG = 2,      // longer than 511 bytes once unescaped or expanded
    ENTRY_NO_NAME = 3,       // [reg]: no separator after the opening quote
};

// ENTRY_TAKEN with key and value (512-byte buffers), else why the entry is skipped.
int SplitIniEntry(const char* text, char* key, char* value);
// ENTRY_TAKEN with value name and data (512-byte buffers), else why the entry is skipped.
int SplitRegEntry(const char* text, char* name, char* data);
// 0 with key and value (512-byte buffers), -1 for an entry to skip.
int ParseIniEntry(const char* text, char* key, char* value);
// 0 with value name and data (512-byte buffers), -1 for an entry to skip.
int ParseRegEntry(const char* text, char* name, char* data);

#endif
