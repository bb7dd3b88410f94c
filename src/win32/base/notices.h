// The three notices (error, retry error, yes/no question) and the small desktop services
// that every window and the extraction share.
#ifndef UPDATER_BASE_NOTICES_H
#define UPDATER_BASE_NOTICES_H

#include <windows.h>

#define NOTICE_TEXT_SIZE 1024

void SetOwnerWindow(HWND window);
HWND GetOwnerWindow(void);
// The owner window's title, or the empty text while there is none.
const char* GetOwnerCaption(void);

// Error with OK; the text also goes to the clipboard.
void ShowError(const char* format, ...);
// Error with Retry and Cancel; returns on Retry, Cancel ends the process with -1.
void ShowRetryError(const char* format, ...);
// The retry error's box for a caller that must tidy up before it ends: true for Retry.
bool AskRetry(const char* format, ...);
// Question with Yes and No; true for Yes. The clipboard is left alone.
bool AskYesNo(const char* format, ...);

void CopyTextToClipboard(const char* text);
// Drains the thread's queue; a quit message ends the process with its code.
void PumpMessages(void);
// The same for work that must not stop half way (the commit, an undoing): a quit message is held
// back until ReleaseHeldQuit posts it again.
void PumpMessagesHoldingQuit(void);
void ReleaseHeldQuit(void);
void CenterWindow(HWND window);
void OpenDocument(const char* path);
// size + 32 bytes from the heap; on failure tells the user and ends the process with -1.
void* CheckedAlloc(size_t size);

#endif
