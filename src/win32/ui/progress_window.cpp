// The progress window of the full pass. It only shows: Cancel stops the animation and
// nothing else, and the window lives and repaints only while the extraction drains the message
// queue.
#include "ui/progress_window.h"

#include <commctrl.h>
#include <string.h>

#include "base/notices.h"
#include "text/path_text.h"
#include "ui/resource_ids.h"
#include "text/buffer_sizes.h"

// Under Wine every repaint of a bar or the name line costs about a millisecond, more than
// inflating a whole block, so the controls are redrawn at most this often. Their positions and
// text are always set at once (the controls answer what they hold); only the painting waits,
// and at the end of each file and before the window closes nothing waits any more.
#define REPAINT_INTERVAL_MS 40

static HWND progressWindow;
static HWND animationControl;
static int packageSize;

// What the bars were last told, so an unchanged position sends nothing (a position beyond the
// range is clamped by the control and would otherwise repaint on every report).
static int filePosition;
static int overallPosition;
static DWORD lastRepaintTick;

// Between repaints a bar's new position is held here, answered to PBM_GETPOS, and handed to
// the control (which paints it) at the next repaint. Slot 0 is the per-file bar, 1 the overall.
static WNDPROC barProcedure;
static HWND fileBar;
static HWND overallBar;
static bool holdBarPaint;
static bool positionHeld[2];
static int heldPosition[2];

// Between repaints the name line's new text is held here and answered to WM_GETTEXT; setting
// the control's text is what paints it (and costs a call into Wine's server).
static WNDPROC nameProcedure;
static HWND nameLine;
static bool nameHeld;
static char heldName[PATH_BUFFER_SIZE];

// The window's controls are asked for once; each lookup is a call into Wine's server.
static HWND Control(HWND window, int id)
{
    if (window == progressWindow && id == IDC_FILE_BAR)
        return fileBar;
    if (window == progressWindow && id == IDC_OVERALL_BAR)
        return overallBar;
    if (window == progressWindow && id == IDC_FILE_NAME)
        return nameLine;
    return GetDlgItem(window, id);
}

static void SetBar(HWND window, int id, int upper, int position)
{
    HWND bar = Control(window, id);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
    SendMessageA(bar, PBM_SETPOS, (WPARAM)position, 0);
}

static int BarSlot(HWND bar)
{
    return bar == fileBar ? 0 : 1;
}

static void ShowHeldPosition(HWND bar)
{
    int slot = BarSlot(bar);
    if (!positionHeld[slot])
        return;
    positionHeld[slot] = false;
    CallWindowProcA(barProcedure, bar, PBM_SETPOS, (WPARAM)heldPosition[slot], 0);
}

static LRESULT CALLBACK HeldBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam)
{
    int slot = BarSlot(bar);
    if (message == PBM_GETPOS && positionHeld[slot])
        return heldPosition[slot];
    if (message == PBM_SETPOS && holdBarPaint) {
        int previous = positionHeld[slot] ? heldPosition[slot] : (int)CallWindowProcA(barProcedure, bar, PBM_GETPOS, 0, 0);
        PBRANGE range;
        CallWindowProcA(barProcedure, bar, PBM_GETRANGE, TRUE, (LPARAM)&range);
        int position = (int)wParam;
        // The control would clamp it the same way.
        position = position < range.iLow ? range.iLow : position > range.iHigh ? range.iHigh : position;
        heldPosition[slot] = position;
        positionHeld[slot] = true;
        return previous;
    }
    if (message == PBM_SETPOS)
        positionHeld[slot] = false;
    else if (message > WM_USER && message <= WM_USER + 32 && message != PBM_GETRANGE)
        ShowHeldPosition(bar);  // any other bar message works on the position as told
    return CallWindowProcA(barProcedure, bar, message, wParam, lParam);
}

static LRESULT CALLBACK HeldNameProc(HWND line, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (nameHeld && message == WM_GETTEXTLENGTH)
        return (LRESULT)strlen(heldName);
    if (nameHeld && message == WM_GETTEXT) {
        if (wParam == 0)
            return 0;
        CopyText((char*)lParam, heldName, (int)wParam);
        return (LRESULT)strlen((char*)lParam);
    }
    if (message == WM_SETTEXT)
        nameHeld = false;
    return CallWindowProcA(nameProcedure, line, message, wParam, lParam);
}

static void ShowHeldName(void)
{
    if (nameHeld)
        SetWindowTextA(nameLine, heldName);  // clears nameHeld
}

static void SetNameLine(HWND window, const char* text, bool repaint)
{
    if (window != progressWindow || repaint) {
        SetWindowTextA(Control(window, IDC_FILE_NAME), text);
        return;
    }
    CopyText(heldName, text, PATH_BUFFER_SIZE);
    nameHeld = true;
}

// True when the controls may repaint now; whatever waited for it is shown at once.
static bool RepaintDue(HWND window)
{
    DWORD now = GetTickCount();
    if (now - lastRepaintTick < REPAINT_INTERVAL_MS)
        return false;
    lastRepaintTick = now;
    ShowHeldPosition(Control(window, IDC_FILE_BAR));
    ShowHeldPosition(Control(window, IDC_OVERALL_BAR));
    ShowHeldName();
    return true;
}

static void ForgetHeldPaint(void)
{
    positionHeld[0] = positionHeld[1] = false;
    holdBarPaint = false;
    nameHeld = false;
    filePosition = 0;
    overallPosition = 0;
    lastRepaintTick = GetTickCount() - REPAINT_INTERVAL_MS;
}

HWND OpenProgressWindow(int size)
{
    packageSize = size;
    CloseProgressWindow();
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrA(GetOwnerWindow(), GWLP_HINSTANCE);
    progressWindow = CreateDialogParamA(instance, "COPYINGDELUX", GetOwnerWindow(), ProgressDialogProc, 0);
    if (progressWindow == NULL)
        return NULL;
    PumpMessages();
    int units = packageSize / BLOCK_SIZE;
    SetBar(progressWindow, IDC_OVERALL_BAR, units < 1 ? 1 : units, 0);
    PumpMessages();
    return progressWindow;
}

void CloseProgressWindow(void)
{
    if (progressWindow == NULL)
        return;
    // The last file and the final positions are on the screen before the window goes.
    ShowHeldPosition(fileBar);
    ShowHeldPosition(overallBar);
    ShowHeldName();
    UpdateWindow(progressWindow);
    DestroyWindow(progressWindow);
    progressWindow = NULL;
    animationControl = NULL;
    ForgetHeldPaint();
    PumpMessages();
}

void BeginFileProgress(HWND window, const char* destinationPath, int originalSize)
{
    bool repaint = RepaintDue(window);
    SetNameLine(window, destinationPath, repaint);
    holdBarPaint = !repaint;
    // No lower limit here: a file below one unit gets the range 0 to 0.
    SetBar(window, IDC_FILE_BAR, originalSize / BLOCK_SIZE, 0);
    holdBarPaint = false;
    filePosition = 0;
}

void ReportProgress(HWND window, int bytesWritten, int consumedCount)
{
    if (window != NULL) {
        int file = bytesWritten / BLOCK_SIZE;
        int overall = consumedCount / BLOCK_SIZE;
        holdBarPaint = !RepaintDue(window);
        if (file != filePosition)
            SendMessageA(Control(window, IDC_FILE_BAR), PBM_SETPOS, (WPARAM)file, 0);
        if (overall != overallPosition)
            SendMessageA(Control(window, IDC_OVERALL_BAR), PBM_SETPOS, (WPARAM)overall, 0);
        holdBarPaint = false;
        filePosition = file;
        overallPosition = overall;
    }
    PumpMessages();
}

void EndFileProgress(HWND window)
{
    // A position changes at most once per file here, never once per block.
    ShowHeldPosition(Control(window, IDC_FILE_BAR));
    ShowHeldPosition(Control(window, IDC_OVERALL_BAR));
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
        ForgetHeldPaint();
        fileBar = GetDlgItem(window, IDC_FILE_BAR);
        overallBar = GetDlgItem(window, IDC_OVERALL_BAR);
        nameLine = GetDlgItem(window, IDC_FILE_NAME);
        barProcedure = (WNDPROC)SetWindowLongPtrA(fileBar, GWLP_WNDPROC, (LONG_PTR)HeldBarProc);
        SetWindowLongPtrA(overallBar, GWLP_WNDPROC, (LONG_PTR)HeldBarProc);
        nameProcedure = (WNDPROC)SetWindowLongPtrA(nameLine, GWLP_WNDPROC, (LONG_PTR)HeldNameProc);
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
