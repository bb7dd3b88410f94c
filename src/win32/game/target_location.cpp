// Finding the installed game's folder from the registry (game/target_location.h).
#include "game/target_location.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "base/data_file.h"
#include "game/product_key.h"
#include "settings/settings.h"
#include "text/buffer_sizes.h"
#include "base/notices.h"
#include "text/path_text.h"
#include "game/installed_game.h"

// The folder read from "InstTo", used as stored.
static char installedFolder[PATH_BUFFER_SIZE];

// The folder is made current only for the moment of the test, so the question and the notices
// never hold the installed folder open.
static bool CanEnterFolder(const char* folder, const char* remembered)
{
    if (!SetCurrentDirectoryA(folder))
        return false;
    SetCurrentDirectoryA(remembered);
    return true;
}

static bool IsUsableInstalledFolder(const char* folder, const char* remembered)
{
    return folder[0] != '\0' && KeyFileFound(folder) && CanEnterFolder(folder, remembered);
}

static int FindInstalledFolder(const char* remembered)
{
    if (!CheckVersionGate())
        return LOCATE_STOP;
    if (ReadMachineInt(GetRegGlobal(), GetRegLocal(), "IsInst", 0) == 0) {
        ShowError("本体がインストールされていません");
        return LOCATE_NOT_FOUND;
    }
    ReadMachineString(GetRegGlobal(), GetRegLocal(), "InstTo", "", installedFolder, sizeof installedFolder);
    if (!IsUsableInstalledFolder(installedFolder, remembered)) {
        ShowError("インストール先が特定できませんでした\n本体プログラムをインストールしてから実行してください");
        return LOCATE_NOT_FOUND;
    }
    return LOCATE_FOUND;
}

int LocateTargetFolder(char* path)
{
    char remembered[CURRENT_FOLDER_SIZE] = "";
    GetCurrentDirectoryA(sizeof remembered, remembered);
    int result = FindInstalledFolder(remembered);
    SetCurrentDirectoryA(remembered);
    if (result != LOCATE_FOUND)
        return result;
    if (!AskYesNo("[%s]をアップデートします", installedFolder))
        return LOCATE_STOP;
    CopyText(path, installedFolder, PATH_BUFFER_SIZE);
    return LOCATE_FOUND;
}
