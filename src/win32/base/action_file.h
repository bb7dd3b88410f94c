// The action lists loaded from the real install.env, and the CD-ROM drive their placeholders
// lead to.
#ifndef UPDATER_BASE_ACTION_FILE_H
#define UPDATER_BASE_ACTION_FILE_H

// Returns only when every section was closed; otherwise a notice and exit -1.
int LoadActionLists(const char* fileName);
// Root of the first CD-ROM drive, or "E:\\".
const char* FindCdromDrive(void);

#endif
