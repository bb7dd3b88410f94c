// The bracketed sections of install.env as five action lists, and the [ini] / [reg] entry
// parsers with their placeholders.
#ifndef UPDATER_SETTINGS_ACTION_LISTS_H
#define UPDATER_SETTINGS_ACTION_LISTS_H
#include "startup/buffer_sizes.h"



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

// Returns only when every section was closed; otherwise a notice and exit -1.
int LoadActionLists(const char* fileName);
ActionEntry* GetActionList(int section);
void SetInstallPath(const char* path);
// 0 with key and value (512-byte buffers), -1 for an entry to skip.
int ParseIniEntry(const char* text, char* key, char* value);
// 0 with value name and data (512-byte buffers), -1 for an entry to skip.
int ParseRegEntry(const char* text, char* name, char* data);
// Root of the first CD-ROM drive, or "E:\\".
const char* FindCdromDrive(void);

#endif
