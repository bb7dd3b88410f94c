// The progress window of the full pass. It only shows: Cancel stops the animation and nothing
// else, and the window lives and repaints only while the extraction drains the message queue.
#include "ui/progress_window.h"

#include <commctrl.h>

#include "startup/notices.h"
#include "ui/resource_ids.h"

#define PROGRESS_UNIT 131072

static HWND progressWindow;
static HWND animationControl;
static int packageSize;

static void SetBar(HWND window, int id, int upper, int position)
{
    HWND bar = GetDlgItem(window, id);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
    SendMessageA(bar, PBM_SETPOS, (WPARAM)position, 0);
}

HWND OpenProgressWindow(int size)
{
    packageSize = size;
    CloseProgressWindow();
    HINSTANCE instance = (HINSTANCE)GetWindowLongA(GetOwnerWindow(), GWL_HINSTANCE);
    progressWindow = CreateDialogParamA(instance, "COPYINGDELUX", GetOwnerWindow(), ProgressDialogProc, 0);
    if (progressWindow == NULL)
        return NULL;
    PumpMessages();
    int units = packageSize / PROGRESS_UNIT;
    SetBar(progressWindow, IDC_OVERALL_BAR, units < 1 ? 1 : units, 0);
    PumpMessages();
    return progressWindow;
}

void CloseProgressWindow(void)
{
    if (progressWindow == NULL)
        return;
    DestroyWindow(progressWindow);
    progressWindow = NULL;
    animationControl = NULL;
    PumpMessages();
}

void BeginFileProgress(HWND window, const char* destinationPath, int originalSize)
{
    SetDlgItemTextA(window, IDC_FILE_NAME, destinationPath);
    // No lower limit here: a file below one unit gets the range 0 to 0.
    SetBar(window, IDC_FILE_BAR, originalSize / PROGRESS_UNIT, 0);
}

void ReportProgress(HWND window, int bytesWritten, int consumedCount)
{
    if (window != NULL) {
        SendDlgItemMessageA(window, IDC_FILE_BAR, PBM_SETPOS, (WPARAM)(bytesWritten / PROGRESS_UNIT), 0);
        SendDlgItemMessageA(window, IDC_OVERALL_BAR, PBM_SETPOS, (WPARAM)(consumedCount / PROGRESS_UNIT), 0);
    }
    PumpMessages();
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        CenterWindow(window);
        SetDlgItemTextA(window, IDC_FILE_NAME, "");
        SetBar(window, IDC_FILE_BAR, 1, 0);
        SetBar(window, IDC_OVERALL_BAR, 1, 0);
        animationControl = GetDlgItem(window, IDC_ANIMATION);
        // No instance: the control loads the clip from the module that created the dialog.
        SendMessageA(animationControl, ACM_OPENA, 0, (LPARAM) "AVI_FILECOPY");
        SendMessageA(animationControl, ACM_PLAY, (WPARAM)-1, MAKELONG(0, -1));
        ShowWindow(animationControl, SW_SHOW);
        return TRUE;
    case WM_COMMAND:
        if (wParam == IDCANCEL)
            SendMessageA(animationControl, ACM_STOP, 0, 0);
        return FALSE;
    default:
        return FALSE;
    }
}
