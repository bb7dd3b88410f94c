// The manual choice of the installed game's folder: the SETUP dialog, its browse button,
// and the checks the chosen folder must pass.
#ifndef UPDATER_GAME_MANUAL_CHOICE_H
#define UPDATER_GAME_MANUAL_CHOICE_H

#include <windows.h>

// 0 with the confirmed folder in path (260 bytes), -1 otherwise.
int ChooseTargetFolder(char* path);
INT_PTR CALLBACK SetupDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void BrowseForFolder(HWND owner);

#endif
