// The section reader and the entry helpers of install.env, apart from the file and from Win32:
// the updater's LoadActionLists, the builder's lint and the tests share them.
#ifndef UPDATER_SETTINGS_ACTION_READER_H
#define UPDATER_SETTINGS_ACTION_READER_H

#include "settings/action_lists.h"
#include "settings/text_mode.h"
#include "startup/buffer_sizes.h"

#define SECTION_COUNT 6

enum SectionLineKind {
    SECTIONLINE_SKIP = 0,    // empty or comment
    SECTIONLINE_END = 1,     // begins with "EOF"
    SECTIONLINE_CLOSE = 2,   // begins with "-"
    SECTIONLINE_HEADER = 3,  // one of the five headers; *section says which
    SECTIONLINE_ENTRY = 4,   // anything else
};

// Cuts the separators at the line's end (in place) and says what the line is.
int ClassifySectionLine(char* line, int* section);
// "[ini]" for SECTION_INI and so on; NULL for SECTION_NONE or an unknown value.
const char* GetSectionHeader(int section);
// "ini" for SECTION_INI: the name that the unclosed-section notice shows.
const char* GetSectionName(int section);

// Reads every line into the five lists. 0 when every section was closed, else the section
// still open at the end of the file or at an "EOF" line.
int ReadActionSections(ReadLineFunction readLine, void* context);
// Releases every list (tests and fuzzers start afresh with it).
void FreeActionLists(void);

// Where "REP_CDROMDRIVE" / "REP_CDROM" lead: FindCdromDrive in the updater; "E:\\" until set.
void SetDriveRootFinder(const char* (*findDriveRoot)(void));
const char* GetInstallPath(void);

// Each writes its result into its own 512-byte work buffer and returns it, or NULL when the
// result would not fit 511 bytes.
const char* UnescapeBackslashes(const char* text);
const char* ExpandIniPlaceholders(const char* text);
const char* ExpandRegPlaceholders(const char* text);

#endif
