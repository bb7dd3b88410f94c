// The end dialog and the readme answer (ui/end_dialog.h).
#include "ui/end_dialog.h"

#include <windows.h>

#include "settings/settings.h"
#include "text/buffer_sizes.h"
#include "base/notices.h"
#include "ui/resource_ids.h"


static int readmeFlag = 0;
static char endDialogCaption[TEXT_BUFFER_SIZE];

int GetReadmeFlag(void)
{
    return readmeFlag;
}

INT_PTR CALLBACK EndDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (message == WM_INITDIALOG) {
        SendDlgItemMessageA(window, IDC_README_CHECK, BM_SETCHECK, BST_UNCHECKED, 0);
        SetDlgItemTextA(window, IDC_README_CHECK, endDialogCaption);
        CenterWindow(window);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    if (wParam == IDOK) {
        readmeFlag = IsDlgButtonChecked(window, IDC_README_CHECK) == BST_CHECKED ? 1 : 0;
        EndDialog(window, 1);
        return TRUE;
    }
    if (wParam == IDCANCEL) {
        readmeFlag = 0;
        EndDialog(window, 2);
        return TRUE;
    }
    return FALSE;
}

void ShowEndDialog(void)
{
    GetSetting("INSTREADME", endDialogCaption, TEXT_BUFFER_SIZE, "-");
    HWND owner = GetOwnerWindow();
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrA(owner, GWLP_HINSTANCE);
    // Before the main window exists the templates still live in our own module.
    if (instance == NULL)
        instance = GetModuleHandleA(NULL);
    // A dialog that could not be shown must not leave an earlier choice standing.
    readmeFlag = 0;
    if (endDialogCaption[0] == '-') {
        DialogBoxParamA(instance, "ENDINSTALL_SHORT", owner, EndDialogProc, 0);
        readmeFlag = 0;
    } else {
        DialogBoxParamA(instance, "ENDINSTALL", owner, EndDialogProc, 0);
    }
}
