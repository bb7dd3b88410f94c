// The update run from the update button to the readme (update/update_run.h).
#include <windows.h>

#include "extraction/extraction.h"
#include "settings/action_lists.h"
#include "game/product_key.h"
#include "settings/settings.h"
#include "base/notices.h"
#include "game/manual_choice.h"
#include "game/target_location.h"
#include "update/after_install_removal.h"
#include "ui/end_dialog.h"
#include "text/buffer_sizes.h"

// Step 1: 0 with the confirmed folder in path; nonzero when the run is to be abandoned.
static int FindTargetFolder(char* path)
{
    int located = LocateTargetFolder(path);
    if (located == LOCATE_FOUND)
        return 0;
    if (located != LOCATE_NOT_FOUND)
        return -1;
    if (!AskYesNo("[ %s ] 本体のインストール先を特定できませんでした。\nインストール先を手動で指定しますか？", GetTitleBar()))
        return -1;
    return ChooseTargetFolder(path) == 0 ? 0 : -1;
}

static void WriteIniEntries(char* key, char* value)
{
    if (GetIniFile()[0] == '-')
        return;
    for (ActionEntry* entry = GetActionList(SECTION_INI); entry != NULL; entry = entry->next) {
        if (ParseIniEntry(entry->text, key, value) == 0)
            WritePrivateProfileStringA(GetIniSection(), key, value, GetIniFile());
    }
}

static void WriteRegistryEntries(char* name, char* data)
{
    if (GetRegGlobal()[0] == '-')
        return;
    for (ActionEntry* entry = GetActionList(SECTION_REG); entry != NULL; entry = entry->next) {
        if (ParseRegEntry(entry->text, name, data) == 0)
            WriteProductString(GetRegGlobal(), GetRegLocal(), name, data);
    }
}

int RunUpdate(void)
{
    char targetPath[PATH_BUFFER_SIZE] = "";
    char first[TEXT_BUFFER_SIZE];
    char second[TEXT_BUFFER_SIZE];

    if (FindTargetFolder(targetPath) != 0) {
        ShowError("アップデートを中止しました");
        return -1;
    }
    // From here on nothing abandons the run: the full pass either completes or ends the process.
    ExtractPackage(targetPath, EXTRACT_FULL_PASS);
    SetInstallPath(targetPath);
    WriteIniEntries(first, second);
    WriteRegistryEntries(first, second);
    RemoveAfterInstallFiles(targetPath);
    ShowEndDialog();
    SetCurrentDirectoryA(targetPath);
    if (GetReadmeFlag()) {
        // Relative to the target folder, where the full pass has put the packaged texts.
        GetReadmeFileName(first, TEXT_BUFFER_SIZE);
        OpenDocument(first);
    }
    return 0;
}
