// The removal of the [delfiles_afterinst] entries from the game folder after the copy.
#ifndef UPDATER_UPDATE_AFTER_INSTALL_REMOVAL_H
#define UPDATER_UPDATE_AFTER_INSTALL_REMOVAL_H

// Removes the [delfiles_afterinst] patterns, relative to the target folder.
void RemoveAfterInstallFiles(const char* targetFolder);
// 0, or 1 when the line was refused or its first folder level could not be removed.
int RemoveListedEntry(const char* targetFolder, const char* entry);

#endif
