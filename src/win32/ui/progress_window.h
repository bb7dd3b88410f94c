// The modeless progress window of the full pass: file name, per-file bar, overall bar, clip.
#ifndef UPDATER_UI_PROGRESS_WINDOW_H
#define UPDATER_UI_PROGRESS_WINDOW_H

#include <windows.h>

HWND OpenProgressWindow(int packageSize);
void CloseProgressWindow(void);
void BeginFileProgress(HWND window, const char* destinationPath, int originalSize);
// Moves both bars (when there is a window) and drains the message queue either way.
void ReportProgress(HWND window, int bytesWritten, int consumedCount);
// After a file's last report: its final positions are painted now.
void EndFileProgress(HWND window);
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
