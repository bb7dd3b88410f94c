// The SETUP dialog and the checks of the folder the player chose (game/manual_choice.h).
#include "game/manual_choice.h"

#include <shlobj.h>
#include <string.h>

#include "game/product_key.h"
#include "settings/settings.h"
#include "base/notices.h"
#include "text/path_text.h"
#include "text/folder_text.h"
#include "text/cp932_text.h"
#include "game/installed_game.h"
#include "ui/resource_ids.h"
#include "text/buffer_sizes.h"

#define SETUP_NEXT 1
#define SETUP_CANCEL 0
#define BROWSE_ONLY_FILE_SYSTEM_FOLDERS 3  // BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN

// Shared by the dialog, the browser and the checks: the proposal, then what the user chose.
static char candidateFolder[PATH_BUFFER_SIZE];

static const char kTooLongNotice[] = "フォルダのパスが長すぎます。\n短いパスを指定してください。";

static void ReadWindowsFolder(char* windowsFolder)
{
    UINT length = GetWindowsDirectoryA(windowsFolder, PATH_BUFFER_SIZE);
    if (length == 0 || length >= PATH_BUFFER_SIZE)
        windowsFolder[0] = '\0';
}

// A registered product proposes its registered folder, else the built proposal stands. The
// built text counts as too long only when it is the one shown: a registered folder replaces it
// unseen.
static int ProposeFolder(const char* windowsFolder, const FolderTextSettings* settings)
{
    int built = BuildFolderProposal(windowsFolder, settings, candidateFolder);
    bool registered = false;
    if (ReadMachineInt(GetRegGlobal(), GetRegLocal(), "IsInst", 0) != 0)
        registered = ReadMachineString(GetRegGlobal(), GetRegLocal(), "InstTo", candidateFolder, candidateFolder,
                                       sizeof candidateFolder) == 0;
    return registered ? FOLDER_TEXT_OK : built;
}

static INT_PTR RunSetupDialog(void)
{
    HWND owner = GetOwnerWindow();
    HINSTANCE instance = owner != NULL ? (HINSTANCE)GetWindowLongPtrA(owner, GWLP_HINSTANCE) : NULL;
    if (instance == NULL)
        instance = GetModuleHandleA(NULL);
    return DialogBoxParamA(instance, "SETUP", owner, SetupDialogProc, 0);
}

static int RefuseWithError(const char* remembered, const char* notice)
{
    SetCurrentDirectoryA(remembered);
    ShowError("%s", notice);
    return -1;
}

// Everything after the dialog: the text is normalised and must pass every test in turn.
static int CheckChosenFolder(const char* remembered, const char* windowsFolder, const FolderTextSettings* settings)
{
    int normalised = NormaliseFolderText(candidateFolder, windowsFolder, settings);
    if (normalised == FOLDER_TEXT_NETWORK)
        return RefuseWithError(remembered,
                               "ネットワークドライブには対応していません。\nローカルドライブを選択して下さい。");
    if (normalised == FOLDER_TEXT_TOO_LONG)
        return RefuseWithError(remembered, kTooLongNotice);
    if (EndsWithSeparator(candidateFolder)) {
        ShowRetryError("ルートには適応できません");
        SetCurrentDirectoryA(remembered);
        return -1;
    }
    SetCurrentDirectoryA(remembered);
    if (!KeyFileFound(candidateFolder)) {
        ShowError("指定されたフォルダには [ %s ] 本体は発見できませんでした", GetTitleBar());
        return -1;
    }
    if (!CheckVersionGate())
        return -1;
    if (!AskYesNo("[%s]をアップデートします", candidateFolder))
        return -1;
    return 0;
}

int ChooseTargetFolder(char* path)
{
    char remembered[CURRENT_FOLDER_SIZE] = "";
    GetCurrentDirectoryA(sizeof remembered, remembered);

    char windowsFolder[PATH_BUFFER_SIZE];
    ReadWindowsFolder(windowsFolder);
    FolderTextSettings settings = {GetInstFol(), GetInstTo(), GetInstMakeFol()};
    // A proposal too long to show is no reason to refuse a folder the player can still type or
    // pick: the field starts empty instead.
    if (ProposeFolder(windowsFolder, &settings) != FOLDER_TEXT_OK)
        candidateFolder[0] = '\0';

    // -1 (the template could not be made) is no choice either.
    if (RunSetupDialog() <= SETUP_CANCEL) {
        SetCurrentDirectoryA(remembered);
        return -1;
    }
    if (CheckChosenFolder(remembered, windowsFolder, &settings) != 0)
        return -1;
    CopyText(path, candidateFolder, PATH_BUFFER_SIZE);
    return 0;
}

INT_PTR CALLBACK SetupDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (message == WM_INITDIALOG) {
        CenterWindow(window);
        SetDlgItemTextA(window, IDC_FOLDER_EDIT, candidateFolder);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    switch (wParam) {
    case IDOK:
        GetDlgItemTextA(window, IDC_FOLDER_EDIT, candidateFolder, PATH_BUFFER_SIZE);
        EndDialog(window, SETUP_NEXT);
        return TRUE;
    case IDCANCEL:
        EndDialog(window, SETUP_CANCEL);
        return TRUE;
    case IDC_BROWSE:
        // Typing since the field was last set is replaced, whether or not a folder was picked.
        BrowseForFolder(window);
        SetDlgItemTextA(window, IDC_FOLDER_EDIT, candidateFolder);
        return TRUE;
    default:
        return FALSE;
    }
}

void BrowseForFolder(HWND owner)
{
    char displayName[PATH_BUFFER_SIZE] = "";
    BROWSEINFOA info;
    memset(&info, 0, sizeof info);
    info.hwndOwner = owner;
    info.pidlRoot = NULL;
    info.pszDisplayName = displayName;
    info.lpszTitle = "フォルダを作成する場所を選択してください";
    info.ulFlags = BROWSE_ONLY_FILE_SYSTEM_FOLDERS;
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    if (item == NULL)
        return;
    char chosen[PATH_BUFFER_SIZE] = "";
    if (SHGetPathFromIDListA(item, chosen))
        CopyText(candidateFolder, chosen, PATH_BUFFER_SIZE);
    IMalloc* allocator = NULL;
    if (SUCCEEDED(SHGetMalloc(&allocator))) {
        allocator->Free(item);
        allocator->Release();
    }
}
