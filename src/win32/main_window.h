// The main window: title image, action buttons, busy flag.
#ifndef UPDATER_MAIN_WINDOW_H
#define UPDATER_MAIN_WINDOW_H

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
