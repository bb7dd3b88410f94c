// The main window with the title image and its buttons (main_window.h).
#include "main_window.h"

#include "ui/rct_image.h"
#include "settings/settings.h"
#include "base/notices.h"
#include "base/work_folder.h"
#include "ui/resource_ids.h"
#include "update/update_run.h"
#include "text/buffer_sizes.h"

#define SLOT_COUNT 9
// One byte more than a path buffer, as the design document sizes the folder saved around an update.
#define SAVED_FOLDER_SIZE (PATH_BUFFER_SIZE + 1)

enum SlotAction { ACTION_NONE = 0, ACTION_UPDATE = 1, ACTION_EXIT = 3, ACTION_README = 5 };

static const int slotControls[SLOT_COUNT] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008};
static int slotActions[SLOT_COUNT];
static int busy;
static Surface* titleImage;
static int imageX;
static int imageY;
static char textBuffer[SETTINGS_VALUE_SIZE];  // the INSTREADME caption, then the INSTREADMEFL name
static char savedFolder[SAVED_FOLDER_SIZE];

static int GiveSlot(HWND window, int slot, const char* caption, int action)
{
    SetDlgItemTextA(window, slotControls[slot], caption);
    slotActions[slot] = action;
    return slot + 1;
}

static void FillSlots(HWND window)
{
    int next = GiveSlot(window, 0, "終了", ACTION_EXIT);
    GetSetting("INSTREADME", textBuffer, sizeof textBuffer, "-");
    if (textBuffer[0] != '-')
        next = GiveSlot(window, next, textBuffer, ACTION_README);
    next = GiveSlot(window, next, "アップデート", ACTION_UPDATE);
    for (int slot = next; slot < SLOT_COUNT; ++slot) {
        DestroyWindow(GetDlgItem(window, slotControls[slot]));
        slotActions[slot] = ACTION_NONE;
    }
}

// The picture keeps to the left part: both margins come from the client height.
static void PlaceTitleImage(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    int clientHeight = client.bottom - client.top;
    imageX = 0;
    imageY = 0;
    if (titleImage != NULL) {
        imageX = (clientHeight - titleImage->width) / 2;
        imageY = (clientHeight - titleImage->height) / 2;
    }
}

static void InitMainWindow(HWND window)
{
    SetOwnerWindow(window);
    CenterWindow(window);
    busy = 0;
    SetWindowTextA(window, GetTitleText());
    FillSlots(window);
    titleImage = LoadRctImage("insttscr.rct");
    PlaceTitleImage(window);
}

static void PaintMainWindow(HWND window)
{
    PAINTSTRUCT paint;
    HDC context = BeginPaint(window, &paint);
    // An image that did not decode leaves its place empty.
    if (titleImage != NULL)
        StretchDIBits(context, imageX, imageY, titleImage->width, titleImage->height, 0, 0, titleImage->width,
                      titleImage->height, titleImage->pixels, (BITMAPINFO*)titleImage->header, DIB_RGB_COLORS,
                      SRCCOPY);
    EndPaint(window, &paint);
}

static void EndMainWindow(HWND window)
{
    FreeSurface(titleImage);
    titleImage = NULL;
    RemoveWorkFolder();
    EndDialog(window, 0);
}

static void RunSlotAction(HWND window, int action)
{
    switch (action) {
    case ACTION_UPDATE:
        GetCurrentDirectoryA(sizeof savedFolder, savedFolder);
        if (RunUpdate() != 0)
            SetCurrentDirectoryA(savedFolder);
        else
            EndMainWindow(window);
        break;
    case ACTION_EXIT:
        EndMainWindow(window);
        break;
    case ACTION_README:
        GetReadmeFileName(textBuffer, sizeof textBuffer);
        OpenDocument(textBuffer);
        break;
    default:
        break;
    }
}

static void HandleCommand(HWND window, WPARAM command)
{
    // Notices, dialogs and the progress window's message draining re-enter this procedure
    // while an action runs; they must not start a second one.
    if (busy)
        return;
    busy = 1;
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if ((WPARAM)slotControls[slot] == command) {
            RunSlotAction(window, slotActions[slot]);
            break;
        }
    }
    busy = 0;
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        InitMainWindow(window);
        break;
    case WM_PAINT:
        PaintMainWindow(window);
        break;
    case WM_COMMAND:
        HandleCommand(window, wParam);
        break;
    case WM_CLOSE:
        if (!busy)
            EndMainWindow(window);
        break;
    default:
        break;
    }
    return 0;
}
