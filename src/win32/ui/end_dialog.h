// The end dialog shown after a complete update, and the player's answer about the readme.
#ifndef UPDATER_UI_END_DIALOG_H
#define UPDATER_UI_END_DIALOG_H

#include <windows.h>

void ShowEndDialog(void);
INT_PTR CALLBACK EndDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// 1 when the player asked for the readme in the end dialog.
int GetReadmeFlag(void);

#endif
