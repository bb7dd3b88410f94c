// The update run started by the main window's update button, and the end dialog.
#ifndef UPDATER_UPDATE_UPDATE_RUN_H
#define UPDATER_UPDATE_UPDATE_RUN_H

#include <windows.h>

// 0: complete, the target folder is current. -1: abandoned after the abort notice.
int RunUpdate(void);
void ShowEndDialog(void);
INT_PTR CALLBACK EndDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// 1 when the player asked for the readme in the end dialog.
int GetReadmeFlag(void);

// Removes the [delfiles_afterinst] patterns, relative to the target folder.
void RemoveAfterInstallFiles(const char* targetFolder);
// 0, or 1 when the line was refused or its first folder level could not be removed.
int RemoveListedEntry(const char* targetFolder, const char* entry);

#endif
