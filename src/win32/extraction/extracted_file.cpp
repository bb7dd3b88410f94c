// Where an extracted file is written and how it replaces the old one
// (extraction/extracted_file.h).
#include "extraction/extracted_file.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "package/entry_names.h"
#include "text/path_text.h"

// Attributes an existing file hands on to the file that replaces it; the first three can be
// given when a file is made, not-indexed only by setting it afterwards.
#define KEPT_ATTRIBUTES \
    (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
#define CREATED_ATTRIBUTES (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)
// Archive is set by every write anyway.
#define COMPARED_ATTRIBUTES (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
#define UNIQUE_NAME_LENGTH 12  // ~updXXXX.tmp

// The file being written, so that a failure, or an exit in the middle of a file (a quit message
// met while draining the queue), removes it: the new destination itself, or the file that is
// to replace an existing one.
static HANDLE pendingHandle = INVALID_HANDLE_VALUE;
static char pendingPath[PATH_BUFFER_SIZE];
static DWORD pendingKept;  // INVALID_FILE_ATTRIBUTES: a new destination, written in place
static int pendingSlot;    // the spare's name (0 or 1), or -1 for a file of its own name
static bool cleanupRegistered;

// Existing files are replaced from a small folder of their own inside the destination's folder:
// the same volume, so the replace stays a rename, and a folder where a new name is found at
// once (Wine looks a new name up by reading the whole folder). It serves one destination folder
// at a time; its path ends in a backslash ("" none).
static char stagingFolder[PATH_BUFFER_SIZE];
static int stagingParentLength;

// Making a file costs more than all the rest of a small file's work (under Wine, on ext4 too),
// so the staging folder keeps one file, the spare, that each replace writes again: before the
// replace the old file gets the spare's other name as a second link, and afterwards it is the
// spare. Where links cannot be made, each replace makes a new spare.
static const char* const kSpareNames[2] = {"~upd0.tmp", "~upd1.tmp"};
static int spareSlot;
static DWORD spareAttributes;  // the compared attributes the spare carries

static void SparePath(int slot, char* path)
{
    snprintf(path, PATH_BUFFER_SIZE, "%s%s", stagingFolder, kSpareNames[slot]);
}

static void DiscardPendingFile(void)
{
    if (pendingHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(pendingHandle);
        pendingHandle = INVALID_HANDLE_VALUE;
    }
    if (pendingPath[0] != '\0') {
        DeleteFileA(pendingPath);
        pendingPath[0] = '\0';
    }
}

static void LeaveStagingFolder(void)
{
    if (stagingFolder[0] == '\0')
        return;
    for (int slot = 0; slot < 2; ++slot) {
        char spare[PATH_BUFFER_SIZE];
        SparePath(slot, spare);
        DeleteFileA(spare);
    }
    RemoveDirectoryA(stagingFolder);
    stagingFolder[0] = '\0';
}

void EndExtractedFiles(void)
{
    DiscardPendingFile();
    LeaveStagingFolder();
}

// Makes a new file (file given) or folder (file NULL) under a name nobody else has in the folder
// that path[0, folderLength) names; the name never takes more room than a 259-byte path leaves.
static bool CreateUniqueEntry(const char* path, int folderLength, DWORD attributes, HANDLE* file, char* createdPath)
{
    int room = PATH_BUFFER_SIZE - 1 - folderLength;
    if (room < 1)
        return false;
    unsigned seed = (unsigned)GetTickCount() ^ ((unsigned)GetCurrentProcessId() << 16);
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
        unsigned number = seed + attempt * 0x9E3779B9u;
        char name[PATH_BUFFER_SIZE];
        if (room >= UNIQUE_NAME_LENGTH) {
            snprintf(name, sizeof name, "~upd%04X.tmp", number & 0xFFFF);
        } else {
            int digits = room - 1 < 8 ? room - 1 : 8;
            snprintf(name, sizeof name, "~%0*X", digits, digits == 0 ? 0 : number & (0xFFFFFFFFu >> (32 - 4 * digits)));
            name[room] = '\0';
        }
        memcpy(createdPath, path, (size_t)folderLength);
        CopyText(createdPath + folderLength, name, PATH_BUFFER_SIZE - folderLength);
        if (file == NULL) {
            if (CreateDirectoryA(createdPath, NULL))
                return true;
        } else {
            *file = CreateFileA(createdPath, GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW, attributes, NULL);
            if (*file != INVALID_HANDLE_VALUE)
                return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return false;
}

// The staging folder for a destination: the one in use when it serves the same folder, else a
// new one (the old one goes). False when there is no room for one within 259 bytes.
static bool EnterStagingFolder(const char* destinationPath)
{
    int parentLength = FolderPartLength(destinationPath);
    if (stagingFolder[0] != '\0' && parentLength == stagingParentLength &&
        strncmp(stagingFolder, destinationPath, (size_t)parentLength) == 0)
        return true;
    LeaveStagingFolder();
    if (parentLength + 2 * (UNIQUE_NAME_LENGTH + 1) > PATH_BUFFER_SIZE - 1)
        return false;
    char folder[PATH_BUFFER_SIZE];
    if (!CreateUniqueEntry(destinationPath, parentLength, 0, NULL, folder))
        return false;
    snprintf(stagingFolder, sizeof stagingFolder, "%s\\", folder);
    stagingParentLength = parentLength;
    spareSlot = 0;
    return true;
}

static DWORD CreatedAttributes(DWORD kept)
{
    return (kept & CREATED_ATTRIBUTES) != 0 ? kept & CREATED_ATTRIBUTES : FILE_ATTRIBUTE_NORMAL;
}

// FILE_STANDARD_INFO and FILE_ATTRIBUTE_TAG_INFO, which the headers of a Windows XP build do not
// declare.
struct StandardInformation {
    LARGE_INTEGER allocationSize;
    LARGE_INTEGER endOfFile;
    DWORD numberOfLinks;
    BOOLEAN deletePending;
    BOOLEAN directory;
};
struct AttributeTagInformation {
    DWORD fileAttributes;
    DWORD reparseTag;
};
#define FILE_STANDARD_INFO_CLASS 1
#define FILE_ATTRIBUTE_TAG_INFO_CLASS 9
typedef BOOL(WINAPI* GetFileInformationByHandleExFunction)(HANDLE, int, LPVOID, DWORD);

// The updater runs elevated, and a game folder may be writable by anyone: what stands under the
// spare's name is written to only if it can be the old file the last replace left there, a
// plain file with no other name. Never a link to some other file. (The call of Vista and later
// asks only what is needed; under Wine the older one also reads the volume's serial number.)
static bool IsOwnSpare(HANDLE file)
{
    static GetFileInformationByHandleExFunction getInformation;
    static bool looked;
    if (!looked) {
        getInformation = (GetFileInformationByHandleExFunction)(void*)GetProcAddress(
            GetModuleHandleA("kernel32.dll"), "GetFileInformationByHandleEx");
        looked = true;
    }
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (getInformation != NULL) {
        StandardInformation standard;
        AttributeTagInformation tag;
        return getInformation(file, FILE_STANDARD_INFO_CLASS, &standard, sizeof standard) &&
               getInformation(file, FILE_ATTRIBUTE_TAG_INFO_CLASS, &tag, sizeof tag) && standard.numberOfLinks == 1 &&
               (tag.fileAttributes & notPlain) == 0;
    }
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(file, &information) && information.nNumberOfLinks == 1 &&
           (information.dwFileAttributes & notPlain) == 0;
}

// The file an existing destination's contents are written to: the staging folder's spare (made
// when there is none), else a new file of its own name there or, where no staging folder fits,
// beside the destination.
static HANDLE OpenReplacement(const char* path)
{
    DWORD created = CreatedAttributes(pendingKept);
    if (!EnterStagingFolder(path)) {
        HANDLE file = INVALID_HANDLE_VALUE;
        return CreateUniqueEntry(path, FolderPartLength(path), created, &file, pendingPath) ? file
                                                                                              : INVALID_HANDLE_VALUE;
    }
    SparePath(spareSlot, pendingPath);
    HANDLE file = CreateFileA(pendingPath, GENERIC_WRITE | DELETE, 0, NULL, OPEN_ALWAYS,
                              created | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    bool existed = file != INVALID_HANDLE_VALUE && GetLastError() == ERROR_ALREADY_EXISTS;
    if (file != INVALID_HANDLE_VALUE && (!existed || IsOwnSpare(file))) {
        if (!existed)
            spareAttributes = pendingKept & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        pendingSlot = spareSlot;
        return file;
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    // The spare is held open elsewhere (a scanner looking at the old file), or what stands under
    // its name is not ours: a file of its own name.
    return CreateUniqueEntry(stagingFolder, (int)strlen(stagingFolder), created, &file, pendingPath)
               ? file
               : INVALID_HANDLE_VALUE;
}

HANDLE OpenExtractedFile(const char* path)
{
    if (!cleanupRegistered) {
        atexit(EndExtractedFiles);
        cleanupRegistered = true;
    }
    pendingKept = INVALID_FILE_ATTRIBUTES;
    pendingSlot = -1;
    pendingHandle = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (pendingHandle != INVALID_HANDLE_VALUE) {
        CopyText(pendingPath, path, PATH_BUFFER_SIZE);
        return pendingHandle;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
        return INVALID_HANDLE_VALUE;
    // A read-only file (or a folder) in the way fails now, before anything is written: Wine's
    // MoveFileExA would replace a read-only file without a word.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return INVALID_HANDLE_VALUE;
    pendingKept = attributes & KEPT_ATTRIBUTES;
    pendingHandle = OpenReplacement(path);
    if (pendingHandle == INVALID_HANDLE_VALUE)
        pendingPath[0] = '\0';
    return pendingHandle;
}

// FILE_RENAME_INFO, which the headers of a Windows XP build do not declare.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength;  // bytes
    WCHAR fileName[4 + PATH_BUFFER_SIZE];
};
#define FILE_RENAME_INFO_CLASS 3
typedef BOOL(WINAPI* SetFileInformationByHandleFunction)(HANDLE, int, LPVOID, DWORD);

// Replaces the destination by the open file through its own handle: one call where MoveFileExA
// opens, renames and closes (each a call into Wine's server). Windows before Vista lacks the
// function, and only a full path with a drive can be named; false then, or when the rename
// fails, and MoveFileExA does it instead.
static bool ReplaceThroughHandle(HANDLE file, const char* destinationPath)
{
    static SetFileInformationByHandleFunction setInformation;
    static bool looked;
    if (!looked) {
        setInformation = (SetFileInformationByHandleFunction)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                                                      "SetFileInformationByHandle");
        looked = true;
    }
    if (setInformation == NULL || destinationPath[0] == '\0' || destinationPath[1] != ':' || destinationPath[2] != '\\')
        return false;
    RenameInformation rename;
    memset(&rename, 0, sizeof rename);
    rename.replaceIfExists = TRUE;
    memcpy(rename.fileName, L"\\??\\", 4 * sizeof(WCHAR));
    int characters = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, destinationPath, -1, rename.fileName + 4,
                                         PATH_BUFFER_SIZE);
    if (characters <= 1)
        return false;
    rename.fileNameLength = (DWORD)((4 + characters - 1) * sizeof(WCHAR));
    return setInformation(file, FILE_RENAME_INFO_CLASS, &rename, (DWORD)sizeof rename) != FALSE;
}

// Puts the written file in the existing destination's place in one rename, so the destination
// is at every moment either the old file or the new one. 0 on success.
static int ReplaceDestination(const char* path)
{
    bool attributesLeft = pendingSlot >= 0 ? ((spareAttributes ^ pendingKept) & COMPARED_ATTRIBUTES) != 0
                                           : (pendingKept & ~CREATED_ATTRIBUTES) != 0;
    char otherName[PATH_BUFFER_SIZE] = "";
    if (pendingSlot >= 0)
        SparePath(1 - pendingSlot, otherName);
    bool linked = pendingSlot >= 0 && CreateHardLinkA(otherName, path, NULL);
    bool replaced = !attributesLeft && ReplaceThroughHandle(pendingHandle, path);
    if (!replaced) {
        CloseHandle(pendingHandle);
        pendingHandle = INVALID_HANDLE_VALUE;
        if (attributesLeft)
            SetFileAttributesA(pendingPath, pendingKept != 0 ? pendingKept : FILE_ATTRIBUTE_NORMAL);
        replaced = MoveFileExA(pendingPath, path, MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    if (!replaced) {
        if (linked)
            DeleteFileA(otherName);  // only the second link: the destination stays
        return 1;
    }
    pendingPath[0] = '\0';  // in its place now: nothing to remove any more
    if (linked) {
        spareSlot = 1 - pendingSlot;
        spareAttributes = pendingKept & COMPARED_ATTRIBUTES;
    }
    return 0;
}

// Set on the file's own handle after its last change: a rename keeps the time, and the file is
// not opened a second time. A spare, made for another file, is dated as made now, as a new file
// would be. A failure here is ignored.
static void SetFileTimes(HANDLE file, uint64_t lastWriteTime, bool spare)
{
    FILETIME time;
    time.dwLowDateTime = (DWORD)lastWriteTime;
    time.dwHighDateTime = (DWORD)(lastWriteTime >> 32);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    SetFileTime(file, spare ? &now : NULL, NULL, &time);
}

int FinishExtractedFile(const char* path, int result, uint64_t lastWriteTime)
{
    // A spare still holds an older file's bytes beyond the new end.
    if (result == 0 && pendingSlot >= 0 && !SetEndOfFile(pendingHandle))
        result = 1;
    if (result == 0)
        SetFileTimes(pendingHandle, lastWriteTime, pendingSlot >= 0);
    if (result == 0 && pendingKept != INVALID_FILE_ATTRIBUTES)
        result = ReplaceDestination(path);
    if (result != 0) {
        DiscardPendingFile();
        return 1;
    }
    if (pendingHandle != INVALID_HANDLE_VALUE)
        CloseHandle(pendingHandle);
    pendingHandle = INVALID_HANDLE_VALUE;
    pendingPath[0] = '\0';
    return 0;
}
