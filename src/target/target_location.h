// Finding and confirming the installed product's folder: from the registry, or by hand.
#ifndef UPDATER_TARGET_TARGET_LOCATION_H
#define UPDATER_TARGET_TARGET_LOCATION_H

#include <windows.h>

#define LOCATE_FOUND 0
#define LOCATE_NOT_FOUND (-1)  // the caller may offer the manual choice
#define LOCATE_STOP (-2)       // refused by the version gate, or declined

// True when the installed version may take this update (a notice otherwise).
bool CheckVersionGate(void);
// path: 260 bytes, written only on LOCATE_FOUND.
int LocateTargetFolder(char* path);
// 0 with the confirmed folder in path (260 bytes), -1 otherwise.
int ChooseTargetFolder(char* path);
INT_PTR CALLBACK SetupDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void BrowseForFolder(HWND owner);

#endif
