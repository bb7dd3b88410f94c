// LoadActionLists over the real install.env, its two fatal notices, and the CD-ROM search.
#include "base/action_file.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "settings/action_lists.h"
#include "settings/action_reader.h"
#include "base/notices.h"

int LoadActionLists(const char* fileName)
{
    SetEntryAllocator(CheckedAlloc);
    SetDriveRootFinder(FindCdromDrive);
    FILE* file = fopen(fileName, "rt");
    if (file == NULL) {
        ShowRetryError("[%s]ファイルを開けませんでした。", fileName);
        exit(-1);
    }
    int openSection = ReadActionSections(ReadFileLine, file, NULL, NULL);
    fclose(file);
    if (openSection != SECTION_NONE) {
        // The notice names the file "設定.env" whatever install.env is really called.
        ShowRetryError("[設定.env]の[%s]が終了していません", GetSectionName(openSection));
        exit(-1);
    }
    return 0;
}

const char* FindCdromDrive(void)
{
    static char driveRoot[sizeof "X:\\"];
    for (char letter = 'A'; letter <= 'Z'; letter++) {
        driveRoot[0] = letter;
        driveRoot[1] = ':';
        driveRoot[2] = '\\';
        driveRoot[3] = '\0';
        if (GetDriveTypeA(driveRoot) == DRIVE_CDROM)
            return driveRoot;
    }
    lstrcpyA(driveRoot, "E:\\");
    return driveRoot;
}
