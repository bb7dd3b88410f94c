// The private work folder and the process-wide file search (base/work_folder.h).
#include "base/work_folder.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "base/dll_search.h"
#include "text/path_text.h"
#include "text/work_folder_name.h"
#include "text/buffer_sizes.h"

static char startFolder[PATH_BUFFER_SIZE];
static char workFolder[PATH_BUFFER_SIZE];

static HANDLE searchHandle = INVALID_HANDLE_VALUE;
static int searchState = -1;  // -1 none or exhausted, 1 first entry unread, 0 fetch the next
static WIN32_FIND_DATAA searchEntry;
static char searchPattern[PATH_BUFFER_SIZE];
static char searchResult[PATH_BUFFER_SIZE];

int FindFirstMatch(const char* pattern)
{
    if (searchHandle != INVALID_HANDLE_VALUE)
        FindClose(searchHandle);
    searchState = -1;
    CopyText(searchPattern, pattern, PATH_BUFFER_SIZE);
    searchHandle = FindFirstFileA(searchPattern, &searchEntry);
    if (searchHandle == INVALID_HANDLE_VALUE)
        return 1;
    searchState = 1;
    return 0;
}

static void EndSearch(void)
{
    FindClose(searchHandle);
    searchHandle = INVALID_HANDLE_VALUE;
    searchState = -1;
}

const char* FindNextMatch(void)
{
    if (searchHandle == INVALID_HANDLE_VALUE || searchState == -1)
        return NULL;
    for (;;) {
        if (searchState == 1) {
            searchState = 0;
        } else if (!FindNextFileA(searchHandle, &searchEntry)) {
            EndSearch();
            return NULL;
        }
        if ((searchEntry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            break;
    }
    ComposeMatchPath(searchResult, PATH_BUFFER_SIZE, searchPattern, searchEntry.cFileName);
    return searchResult;
}

void DeleteMatchingFiles(const char* folder, const char* pattern)
{
    char remembered[PATH_BUFFER_SIZE];
    GetCurrentDirectoryA(PATH_BUFFER_SIZE, remembered);
    // A folder that cannot be entered must not let the pattern match wherever we happen to be.
    if (!SetCurrentDirectoryA(folder))
        return;
    if (FindFirstMatch(pattern) == 0) {
        const char* path;
        while ((path = FindNextMatch()) != NULL)
            DeleteFileA(path);
    }
    SetCurrentDirectoryA(remembered);
}

typedef DWORD(WINAPI* TimeGetTimeFunction)(void);

// winmm is no known system DLL: linking it would let a planted copy beside the updater load
// before anything runs, so it is loaded from the system folder when first needed.
static DWORD ReadTickCount(void)
{
    HMODULE winmm = LoadSystemLibrary("winmm.dll");
    TimeGetTimeFunction timeGetTimeFunction =
        winmm != NULL ? (TimeGetTimeFunction)(void*)GetProcAddress(winmm, "timeGetTime") : NULL;
    return timeGetTimeFunction != NULL ? timeGetTimeFunction() : GetTickCount();
}

void CreateWorkFolder(void)
{
    char temporary[PATH_BUFFER_SIZE];
    GetCurrentDirectoryA(PATH_BUFFER_SIZE - 1, startFolder);
    GetTempPathA(PATH_BUFFER_SIZE - 1, temporary);
    temporary[PATH_BUFFER_SIZE - 2] = '\0';
    EnsureTrailingBackslash(temporary);
    // A second copy started within the same millisecond must not share our folder: on a clash
    // take the next tick's name.
    DWORD tick = ReadTickCount();
    for (int attempt = 0; attempt < 1000; ++attempt, ++tick) {
        char name[WORK_FOLDER_NAME_SIZE];
        FormatWorkFolderName(tick, name);
        snprintf(workFolder, PATH_BUFFER_SIZE, "%s%s", temporary, name);
        if (CreateDirectoryA(workFolder, NULL) || GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    SetCurrentDirectoryA(workFolder);
}

void RemoveWorkFolder(void)
{
    SetCurrentDirectoryA(startFolder);
    DeleteMatchingFiles(workFolder, "*.*");
    RemoveDirectoryA(workFolder);
}

const char* GetWorkFolder(void)
{
    return workFolder;
}

const char* GetStartFolder(void)
{
    return startFolder;
}
