// The notices and the small desktop services behind them (base/notices.h).
#include "base/notices.h"

#include <shellapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "text/buffer_sizes.h"
#include "text/path_text.h"

static HWND ownerWindow;
static char ownerCaption[PATH_BUFFER_SIZE];
static HWND clipboardWindow;

void SetOwnerWindow(HWND window)
{
    ownerWindow = window;
}

HWND GetOwnerWindow(void)
{
    return ownerWindow;
}

const char* GetOwnerCaption(void)
{
    ownerCaption[0] = '\0';
    if (ownerWindow != NULL)
        GetWindowTextA(ownerWindow, ownerCaption, PATH_BUFFER_SIZE - 1);
    ownerCaption[PATH_BUFFER_SIZE - 1] = '\0';
    return ownerCaption;
}

// Formats the notice into its 1024-byte buffer, raises it and returns the box's answer.
static int RaiseNotice(UINT flags, bool copyToClipboard, const char* format, va_list arguments)
{
    char text[NOTICE_TEXT_SIZE];
    vsnprintf(text, NOTICE_TEXT_SIZE, format, arguments);
    text[NOTICE_TEXT_SIZE - 1] = '\0';
    SetForegroundWindow(ownerWindow);
    if (copyToClipboard)
        CopyTextToClipboard(text);
    return MessageBoxA(ownerWindow, text, GetOwnerCaption(), flags);
}

void ShowError(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    RaiseNotice(MB_OK | MB_ICONERROR | MB_TOPMOST, true, format, arguments);
    va_end(arguments);
}

void ShowRetryError(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int answer = RaiseNotice(MB_RETRYCANCEL | MB_ICONERROR | MB_TOPMOST, true, format, arguments);
    va_end(arguments);
    if (answer == IDCANCEL)
        exit(-1);
}

bool AskRetry(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int answer = RaiseNotice(MB_RETRYCANCEL | MB_ICONERROR | MB_TOPMOST, true, format, arguments);
    va_end(arguments);
    return answer != IDCANCEL;
}

bool AskYesNo(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int answer = RaiseNotice(MB_YESNO | MB_ICONQUESTION, false, format, arguments);
    va_end(arguments);
    return answer == IDYES;
}

// A clipboard opened without a window loses its owner when emptied and the system then refuses
// the data; a hidden message-only window of our own makes the copy land even at start-up.
static HWND GetClipboardWindow(void)
{
    if (clipboardWindow == NULL)
        clipboardWindow = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, GetModuleHandleA(NULL), NULL);
    return clipboardWindow;
}

void CopyTextToClipboard(const char* text)
{
    size_t size = strlen(text) + 1;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (memory == NULL)
        return;
    void* block = GlobalLock(memory);
    if (block != NULL) {
        memcpy(block, text, size);
        GlobalUnlock(memory);
    }
    if (!OpenClipboard(GetClipboardWindow())) {
        GlobalFree(memory);
        return;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_TEXT, memory) == NULL)
        GlobalFree(memory);
    CloseClipboard();
}

void PumpMessages(void)
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            exit((int)message.wParam);
        TranslateMessage(&message);
        // Registered messages are translated but never dispatched.
        if (message.message < 0xC000)
            DispatchMessageA(&message);
    }
}

static bool quitHeld;
static int heldQuitCode;

void PumpMessagesHoldingQuit(void)
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quitHeld = true;
            heldQuitCode = (int)message.wParam;
            // Peeking again would find the quit state once more; the rest waits for the release.
            return;
        }
        TranslateMessage(&message);
        if (message.message < 0xC000)
            DispatchMessageA(&message);
    }
}

void ReleaseHeldQuit(void)
{
    if (quitHeld)
        PostQuitMessage(heldQuitCode);
    quitHeld = false;
}

void CenterWindow(HWND window)
{
    RECT rectangle;
    GetWindowRect(window, &rectangle);
    int width = rectangle.right - rectangle.left;
    int height = rectangle.bottom - rectangle.top;
    HDC context = GetDC(window);
    int screenWidth = GetDeviceCaps(context, HORZRES);
    int screenHeight = GetDeviceCaps(context, VERTRES);
    ReleaseDC(window, context);
    SetWindowPos(window, NULL, (screenWidth - width) / 2, (screenHeight - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void OpenDocument(const char* path)
{
    SHELLEXECUTEINFOA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.hwnd = ownerWindow;
    info.lpVerb = "open";
    info.lpFile = path;
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExA(&info);
}

void* CheckedAlloc(size_t size)
{
    void* block = size <= (size_t)-1 - 32 ? malloc(size + 32) : NULL;
    if (block == NULL) {
        MessageBoxA(NULL, "メモリ容量が不足しています。処理を中断します。", "malloc", MB_OK | MB_ICONERROR);
        // Every caller uses the block at once, so the promised stop is the only safe outcome.
        exit(-1);
    }
    return block;
}
