// The work folder's name from the tick count (text/work_folder_name.h).
#include "text/work_folder_name.h"

#include <stdio.h>

void FormatWorkFolderName(uint32_t tick, char* name)
{
    snprintf(name, WORK_FOLDER_NAME_SIZE, "VaruVIRazudarIdezor_%09d", (int)(int32_t)tick);
}
