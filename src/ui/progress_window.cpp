// The progress window of the full pass. It only shows: Cancel stops the animation and nothing
// else, and the window lives and repaints only while the extraction drains the message queue.
#include "ui/progress_window.h"

#include <commctrl.h>

#include "startup/notices.h"
#include "ui/resource_ids.h"

#define PROGRESS_UNIT 131072
// Under Wine every repaint of a bar or the name line costs about a millisecond, more than
// inflating a whole block, so the controls are redrawn at most this often; their positions and
// text are always set at once.
#define REPAINT_INTERVAL_MS 40

static HWND progressWindow;
static HWND animationControl;
static int packageSize;

// What the bars were last told, so an unchanged position sends nothing (a position beyond the
// range is clamped by the control and would otherwise repaint on every report).
static int filePosition;
static int overallPosition;
static DWORD lastRepaintTick;
static bool repaintOwed;

static void SetBar(HWND window, int id, int upper, int position)
{
    HWND bar = GetDlgItem(window, id);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
    SendMessageA(bar, PBM_SETPOS, (WPARAM)position, 0);
}

// True when the controls may repaint now; then whatever an earlier quiet change left behind
// is invalidated too, and the next drain of the queue paints it.
static bool RepaintDue(HWND window)
{
    DWORD now = GetTickCount();
    if (now - lastRepaintTick < REPAINT_INTERVAL_MS)
        return false;
    lastRepaintTick = now;
    if (repaintOwed) {
        InvalidateRect(GetDlgItem(window, IDC_FILE_NAME), NULL, TRUE);
        InvalidateRect(GetDlgItem(window, IDC_FILE_BAR), NULL, FALSE);
        InvalidateRect(GetDlgItem(window, IDC_OVERALL_BAR), NULL, FALSE);
        repaintOwed = false;
    }
    return true;
}

// Sends a message to a control; between repaints its redraw is held off, so the control takes
// the change without painting it, and a later repaint shows it.
static void SendToControl(HWND window, int id, UINT message, WPARAM wParam, LPARAM lParam, bool repaint)
{
    HWND control = GetDlgItem(window, id);
    if (repaint) {
        SendMessageA(control, message, wParam, lParam);
        return;
    }
    SendMessageA(control, WM_SETREDRAW, FALSE, 0);
    SendMessageA(control, message, wParam, lParam);
    SendMessageA(control, WM_SETREDRAW, TRUE, 0);
    repaintOwed = true;
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
    filePosition = 0;
    overallPosition = 0;
    lastRepaintTick = GetTickCount() - REPAINT_INTERVAL_MS;
    repaintOwed = false;
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
    bool repaint = RepaintDue(window);
    SendToControl(window, IDC_FILE_NAME, WM_SETTEXT, 0, (LPARAM)destinationPath, repaint);
    // No lower limit here: a file below one unit gets the range 0 to 0.
    SendToControl(window, IDC_FILE_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, originalSize / PROGRESS_UNIT), repaint);
    SendToControl(window, IDC_FILE_BAR, PBM_SETPOS, 0, 0, repaint);
    filePosition = 0;
}

void ReportProgress(HWND window, int bytesWritten, int consumedCount)
{
    if (window != NULL) {
        int file = bytesWritten / PROGRESS_UNIT;
        int overall = consumedCount / PROGRESS_UNIT;
        if (file != filePosition || overall != overallPosition) {
            bool repaint = RepaintDue(window);
            if (file != filePosition)
                SendToControl(window, IDC_FILE_BAR, PBM_SETPOS, (WPARAM)file, 0, repaint);
            if (overall != overallPosition)
                SendToControl(window, IDC_OVERALL_BAR, PBM_SETPOS, (WPARAM)overall, 0, repaint);
            filePosition = file;
            overallPosition = overall;
        } else if (repaintOwed) {
            RepaintDue(window);
        }
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
