// LoadSettings, the key/value reader over install.env opened through the data-file opener.
#include "base/settings_file.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "base/data_file.h"
#include "settings/settings.h"
#include "settings/settings_reader.h"
#include "base/notices.h"

int LoadSettings(const char* fileName)
{
    static bool freeRegistered = false;
    if (!freeRegistered) {
        atexit(FreeSettings);
        freeRegistered = true;
    }
    SetEntryAllocator(CheckedAlloc);
    FILE* file = OpenDataFile(fileName, "rt");
    ReadSettingsLines(ReadFileLine, file, NULL, NULL);
    fclose(file);
    return 0;
}
