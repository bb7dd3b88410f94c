// OpenDataFile and DataFileExists under the data-file lock.
#include "base/data_file.h"

#include <windows.h>

#include <stdlib.h>

#include "base/notices.h"

namespace {

CRITICAL_SECTION dataFileLock;
bool dataFileLockCreated = false;

void DeleteDataFileLock(void)
{
    DeleteCriticalSection(&dataFileLock);
}

// The first use is start-up's test of install.env on the GUI thread, so no further guard.
void CreateDataFileLockOnce(void)
{
    if (dataFileLockCreated)
        return;
    InitializeCriticalSection(&dataFileLock);
    atexit(DeleteDataFileLock);
    dataFileLockCreated = true;
}

}  // namespace

FILE* OpenDataFile(const char* name, const char* mode)
{
    CreateDataFileLockOnce();
    for (;;) {
        EnterCriticalSection(&dataFileLock);
        FILE* file = fopen(name, mode);
        LeaveCriticalSection(&dataFileLock);
        if (file != NULL)
            return file;
        // Shown without the lock; Cancel ends the process, Retry tries again.
        ShowRetryError("Ffopen : ファイル[%s]の読み込みで失敗しました", name);
    }
}

bool DataFileExists(const char* name)
{
    CreateDataFileLockOnce();
    EnterCriticalSection(&dataFileLock);
    FILE* file = fopen(name, "rb");
    bool exists = file != NULL;
    if (file != NULL)
        fclose(file);
    LeaveCriticalSection(&dataFileLock);
    return exists;
}
