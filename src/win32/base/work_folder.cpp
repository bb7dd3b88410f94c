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

// Held open while the folder is ours, without letting it be deleted: a later start tells a
// running updater's folder from one a killed run left.
static HANDLE workHandle = INVALID_HANDLE_VALUE;

// The prefix, then the tick as a signed number: an optional minus and digits, nothing else.
static bool IsWorkFolderName(const char* name)
{
    size_t prefix = strlen(WORK_FOLDER_PREFIX);
    if (strncmp(name, WORK_FOLDER_PREFIX, prefix) != 0)
        return false;
    const char* digits = name + prefix + (name[prefix] == '-' ? 1 : 0);
    if (*digits == '\0')
        return false;
    for (const char* c = digits; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9')
            return false;
    }
    return true;
}

static bool IsPlainFile(const WIN32_FIND_DATAA* found)
{
    return (found->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// Work folders that killed runs left in the temporary-files folder go: only folders of the
// work folder's name that no running updater holds, no link, and holding nothing but files.
static void RemoveLeftWorkFolders(const char* temporary)
{
    char pattern[PATH_BUFFER_SIZE];
    snprintf(pattern, sizeof pattern, "%s%s*", temporary, WORK_FOLDER_PREFIX);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !IsWorkFolderName(found.cFileName))
            continue;
        char folder[PATH_BUFFER_SIZE];
        int length = snprintf(folder, sizeof folder, "%s%s", temporary, found.cFileName);
        if (length <= 0 || length >= PATH_BUFFER_SIZE)
            continue;
        HANDLE probe = CreateFileA(folder, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        if (probe == INVALID_HANDLE_VALUE)
            continue;  // a running updater's
        CloseHandle(probe);
        char inner[PATH_BUFFER_SIZE];
        snprintf(inner, sizeof inner, "%s\\*", folder);
        WIN32_FIND_DATAA item;
        HANDLE listing = FindFirstFileA(inner, &item);
        bool plain = true;
        if (listing != INVALID_HANDLE_VALUE) {
            do {
                if (strcmp(item.cFileName, ".") != 0 && strcmp(item.cFileName, "..") != 0 && !IsPlainFile(&item))
                    plain = false;
            } while (plain && FindNextFileA(listing, &item));
            FindClose(listing);
        }
        if (!plain)
            continue;
        DeleteMatchingFiles(folder, "*.*");
        RemoveDirectoryA(folder);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void CreateWorkFolder(void)
{
    char temporary[PATH_BUFFER_SIZE];
    GetCurrentDirectoryA(PATH_BUFFER_SIZE - 1, startFolder);
    GetTempPathA(PATH_BUFFER_SIZE - 1, temporary);
    temporary[PATH_BUFFER_SIZE - 2] = '\0';
    EnsureTrailingBackslash(temporary);
    RemoveLeftWorkFolders(temporary);
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
    // Listing access: a handle that may only read attributes takes no part in sharing checks.
    workHandle = CreateFileA(workFolder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

void RemoveWorkFolder(void)
{
    if (workHandle != INVALID_HANDLE_VALUE)
        CloseHandle(workHandle);
    workHandle = INVALID_HANDLE_VALUE;
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
