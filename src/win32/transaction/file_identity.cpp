// What a file or folder is, and acting on one only while it is still that (transaction/file_identity.h).
#include "transaction/file_identity.h"

#include <string.h>

#include "text/buffer_sizes.h"

bool IsGoneError(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsHeldError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

bool ReadHandleIdentity(HANDLE item, FileIdentity* identity)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(item, &information))
        return false;
    identity->volume = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    bool folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    identity->size = folder ? 0 : ((uint64_t)information.nFileSizeHigh << 32) | information.nFileSizeLow;
    identity->time = folder ? 0
                            : ((uint64_t)information.ftLastWriteTime.dwHighDateTime << 32) |
                                  information.ftLastWriteTime.dwLowDateTime;
    return true;
}

// An item by its own name: a link at the name is opened as the link, never followed.
HANDLE OpenItem(const char* path, DWORD access)
{
    return CreateFileA(path, access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

bool ReadIdentity(const char* path, FileIdentity* identity)
{
    HANDLE item = OpenItem(path, 0);
    if (item == INVALID_HANDLE_VALUE)
        return false;
    bool read = ReadHandleIdentity(item, identity);
    CloseHandle(item);
    return read;
}

bool SameItem(const FileIdentity* a, const FileIdentity* b)
{
    return a->volume == b->volume && a->indexHigh == b->indexHigh && a->indexLow == b->indexLow &&
           a->size == b->size && a->time == b->time;
}

int LookAt(const char* path, const FileIdentity* expected, FileIdentity* found)
{
    for (int attempt = 0;; ++attempt) {
        HANDLE item = OpenItem(path, 0);
        if (item != INVALID_HANDLE_VALUE) {
            FileIdentity identity;
            bool read = ReadHandleIdentity(item, &identity);
            CloseHandle(item);
            if (!read)
                return ITEM_UNKNOWN;
            if (found != NULL)
                *found = identity;
            return expected != NULL && SameItem(&identity, expected) ? ITEM_MATCH : ITEM_OTHER;
        }
        DWORD error = GetLastError();
        if (IsGoneError(error))
            return ITEM_NONE;
        if (attempt >= HELD_FILE_RETRIES || !IsHeldError(error))
            return ITEM_UNKNOWN;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

// FILE_RENAME_INFO and FILE_DISPOSITION_INFO, which the headers of a Windows XP build do not
// declare, and the function that takes them (Vista and later).
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength;  // bytes
    WCHAR fileName[4 + PATH_BUFFER_SIZE];
};
#define FILE_RENAME_INFO_CLASS 3
#define FILE_DISPOSITION_INFO_CLASS 4
typedef BOOL(WINAPI* SetFileInformationByHandleFunction)(HANDLE, int, LPVOID, DWORD);

static SetFileInformationByHandleFunction HandleInformationSetter(void)
{
    static SetFileInformationByHandleFunction setInformation;
    static bool looked;
    if (!looked) {
        setInformation = (SetFileInformationByHandleFunction)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                                                      "SetFileInformationByHandle");
        looked = true;
    }
    return setInformation;
}

// Renames the open item; false where the system lacks the call, or only a full path with a drive
// can be named, or the rename fails.
bool RenameThroughHandle(HANDLE item, const char* destinationPath, bool replace)
{
    SetFileInformationByHandleFunction setInformation = HandleInformationSetter();
    if (setInformation == NULL || destinationPath[0] == '\0' || destinationPath[1] != ':' || destinationPath[2] != '\\')
        return false;
    RenameInformation rename;
    memset(&rename, 0, sizeof rename);
    rename.replaceIfExists = replace ? TRUE : FALSE;
    memcpy(rename.fileName, L"\\??\\", 4 * sizeof(WCHAR));
    int characters = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, destinationPath, -1, rename.fileName + 4,
                                         PATH_BUFFER_SIZE);
    if (characters <= 1)
        return false;
    rename.fileNameLength = (DWORD)((4 + characters - 1) * sizeof(WCHAR));
    return setInformation(item, FILE_RENAME_INFO_CLASS, &rename, (DWORD)sizeof rename) != FALSE;
}

bool DeleteThroughHandle(HANDLE item)
{
    SetFileInformationByHandleFunction setInformation = HandleInformationSetter();
    BOOLEAN dispose = TRUE;
    return setInformation != NULL && setInformation(item, FILE_DISPOSITION_INFO_CLASS, &dispose, sizeof dispose);
}

// Deletes the item at path (a file, or an empty folder) when it is still the expected one; the
// look and the delete go through one handle where the system allows, so nothing that took the
// name in between is hit.
int DeleteIfSame(const char* path, const FileIdentity* expected, bool folder)
{
    for (int attempt = 0;; ++attempt) {
        HANDLE item = OpenItem(path, DELETE);
        if (item == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (IsGoneError(error))
                return ACT_GONE;
            if (attempt >= HELD_FILE_RETRIES || !IsHeldError(error))
                return IsHeldError(error) ? ACT_HELD : ACT_FAILED;
            Sleep(HELD_FILE_WAIT_MS);
            continue;
        }
        FileIdentity identity;
        bool same = ReadHandleIdentity(item, &identity) && (expected == NULL || SameItem(&identity, expected));
        if (!same) {
            CloseHandle(item);
            return ACT_NOT_OURS;
        }
        bool deleted = DeleteThroughHandle(item);
        CloseHandle(item);
        if (!deleted)
            deleted = folder ? RemoveDirectoryA(path) != FALSE : DeleteFileA(path) != FALSE;
        if (deleted)
            return ACT_DONE;
        DWORD error = GetLastError();
        if (folder && error == ERROR_DIR_NOT_EMPTY)
            return ACT_NOT_OURS;
        if (attempt >= HELD_FILE_RETRIES || !IsHeldError(error))
            return IsHeldError(error) ? ACT_HELD : ACT_FAILED;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

// Renames the item at from to to when it is still the expected one.
int MoveIfSame(const char* from, const FileIdentity* expected, const char* to, bool replace)
{
    for (int attempt = 0;; ++attempt) {
        HANDLE item = OpenItem(from, DELETE);
        DWORD error = NO_ERROR;
        if (item != INVALID_HANDLE_VALUE) {
            FileIdentity identity;
            if (!ReadHandleIdentity(item, &identity) || (expected != NULL && !SameItem(&identity, expected))) {
                CloseHandle(item);
                return ACT_NOT_OURS;
            }
            bool moved = RenameThroughHandle(item, to, replace);
            error = GetLastError();
            CloseHandle(item);
            if (!moved) {
                moved = MoveFileExA(from, to, replace ? MOVEFILE_REPLACE_EXISTING : 0) != FALSE;
                error = GetLastError();
            }
            if (moved)
                return ACT_DONE;
        } else {
            error = GetLastError();
            if (IsGoneError(error))
                return ACT_GONE;
        }
        if (attempt >= HELD_FILE_RETRIES || !IsHeldError(error))
            return IsHeldError(error) ? ACT_HELD : ACT_FAILED;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

bool MoveHeld(const char* from, const char* to, DWORD flags, DWORD* error)
{
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(from, to, flags))
            return true;
        *error = GetLastError();
        if (attempt >= HELD_FILE_RETRIES || !IsHeldError(*error))
            return false;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

