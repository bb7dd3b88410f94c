// Where an extracted file is written and how it takes its place (extraction/extracted_file.h).
#include "extraction/extracted_file.h"

#include <stdio.h>
#include <string.h>

#include "extraction/destination_index.h"
#include "extraction/update_journal.h"
#include "base/reparse_points.h"
#include "text/buffer_sizes.h"
#include "text/entry_name_rules.h"
#include "text/path_text.h"

// Attributes an existing file hands on to the file that replaces it; the first three can be
// given when a file is made, not-indexed only by setting it afterwards.
#define KEPT_ATTRIBUTES \
    (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
#define CREATED_ATTRIBUTES (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)
#define NAME_ATTEMPTS 16
// Names a working folder takes before the next one is made: kept small, since every name made in
// it is looked for first (see workFolder).
#define WORK_FOLDER_NAMES 64

// The file being written, so that a failure, or an exit in the middle of a file (a quit message
// met while draining the queue), can remove it.
static HANDLE pendingHandle = INVALID_HANDLE_VALUE;
static char pendingPath[PATH_BUFFER_SIZE];
static DWORD pendingKept;  // INVALID_FILE_ATTRIBUTES: the destination is new
static char waitingName[PATH_BUFFER_SIZE];  // below the game folder, in the working folder
static char keptName[PATH_BUFFER_SIZE];

// The working folder of the destination folder in use: small, so that a new name in it is found
// at once where a file system looks a name up by reading the whole folder (Wine does), and the
// thousands of new names of a large update are not made in the game's own folders.
static char workFolder[PATH_BUFFER_SIZE];  // below the game folder; "" none
static int workParentLength;               // the length of the destination folder part it serves
static unsigned workCounter;

static unsigned nameCounter;
static bool nameCounterSeeded;

// Names of the updater's own form; a clash with one left by some other run only costs a retry.
static void NextTemporaryName(char* leaf)
{
    if (!nameCounterSeeded) {
        nameCounter = (unsigned)GetTickCount() ^ ((unsigned)GetCurrentProcessId() << 8);
        nameCounterSeeded = true;
    }
    snprintf(leaf, UPDATE_TEMPORARY_NAME_LENGTH + 1, UPDATE_TEMPORARY_PREFIX "%04X" UPDATE_TEMPORARY_SUFFIX,
             nameCounter++ & 0xFFFF);
}

void DiscardExtractedFile(void)
{
    if (pendingHandle != INVALID_HANDLE_VALUE)
        CloseHandle(pendingHandle);
    pendingHandle = INVALID_HANDLE_VALUE;
    if (pendingPath[0] != '\0')
        DeleteFileA(pendingPath);
    pendingPath[0] = '\0';
    workFolder[0] = '\0';
}

// The working folder beside the entry: the one in use when it serves the same folder, else a new
// one, on record before it is made.
static bool EnterWorkFolder(const char* folder, const char* name)
{
    int parentLength = FolderPartLength(name);
    if (workFolder[0] != '\0' && parentLength == workParentLength && strncmp(workFolder, name, (size_t)parentLength) == 0 &&
        workCounter + 2 <= WORK_FOLDER_NAMES)
        return true;
    workFolder[0] = '\0';
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        char relative[PATH_BUFFER_SIZE];
        char leaf[UPDATE_TEMPORARY_NAME_LENGTH + 1];
        NextTemporaryName(leaf);
        snprintf(relative, sizeof relative, "%.*s%s", parentLength, name, leaf);
        char path[PATH_BUFFER_SIZE];
        if (!PathBelow(folder, relative, path) || (int)strlen(path) + 1 + UPDATE_WAITING_NAME_DIGITS > PATH_BUFFER_SIZE - 1 ||
            RecordStep(JOURNAL_WORK_FOLDER, relative, NULL, NULL) != 0)
            return false;
        if (CreateDirectoryA(path, NULL)) {
            CopyText(workFolder, relative, PATH_BUFFER_SIZE);
            workParentLength = parentLength;
            workCounter = 0;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

static void NextWaitingName(char* relative)
{
    snprintf(relative, PATH_BUFFER_SIZE, "%s\\%X", workFolder, workCounter++);
}

static DWORD CreatedAttributes(DWORD kept)
{
    if (kept == INVALID_FILE_ATTRIBUTES || (kept & CREATED_ATTRIBUTES) == 0)
        return FILE_ATTRIBUTE_NORMAL;
    return kept & CREATED_ATTRIBUTES;
}

HANDLE OpenExtractedFile(const char* folder, const char* name)
{
    char path[PATH_BUFFER_SIZE];
    if (!PathBelow(folder, name, path))
        return INVALID_HANDLE_VALUE;
    pendingKept = INVALID_FILE_ATTRIBUTES;
    if (!IsJournalOpen()) {
        pendingHandle = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (pendingHandle != INVALID_HANDLE_VALUE)
            CopyText(pendingPath, path, PATH_BUFFER_SIZE);
        return pendingHandle;
    }
    DWORD attributes = FindDestination(folder, name);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A read-only file stays as the player or the game made it; a file link would have the
        // update written somewhere else.
        if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0 || IsLinkItem(path, attributes))
            return INVALID_HANDLE_VALUE;
        pendingKept = attributes & KEPT_ATTRIBUTES;
    }
    bool replacing = pendingKept != INVALID_FILE_ATTRIBUTES;
    if (!EnterWorkFolder(folder, name))
        return INVALID_HANDLE_VALUE;
    NextWaitingName(waitingName);
    if (replacing)
        NextWaitingName(keptName);
    if (!PathBelow(folder, waitingName, pendingPath) ||
        RecordStep(replacing ? JOURNAL_REPLACE : JOURNAL_NEW, name, waitingName, replacing ? keptName : NULL) != 0) {
        pendingPath[0] = '\0';
        return INVALID_HANDLE_VALUE;
    }
    pendingHandle =
        CreateFileA(pendingPath, GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW, CreatedAttributes(pendingKept), NULL);
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

// Gives the open file its name through its own handle: one call where MoveFileExA opens, renames
// and closes (each a call into Wine's server, for every file of a large update). Windows before
// Vista lacks the function, and only a full path with a drive can be named; false then, or when
// the rename fails, and MoveFileExA does it after the file is closed.
static bool RenameThroughHandle(HANDLE file, const char* destinationPath, bool replace)
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
    rename.replaceIfExists = replace ? TRUE : FALSE;
    memcpy(rename.fileName, L"\\??\\", 4 * sizeof(WCHAR));
    int characters = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, destinationPath, -1, rename.fileName + 4,
                                         PATH_BUFFER_SIZE);
    if (characters <= 1)
        return false;
    rename.fileNameLength = (DWORD)((4 + characters - 1) * sizeof(WCHAR));
    return setInformation(file, FILE_RENAME_INFO_CLASS, &rename, (DWORD)sizeof rename) != FALSE;
}

static void ClosePending(void)
{
    if (pendingHandle != INVALID_HANDLE_VALUE)
        CloseHandle(pendingHandle);
    pendingHandle = INVALID_HANDLE_VALUE;
}

static bool MoveHeldFile(const char* from, const char* to, DWORD flags)
{
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(from, to, flags))
            return true;
        DWORD error = GetLastError();
        if (attempt >= HELD_FILE_RETRIES || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED))
            return false;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

int FinishExtractedFile(const char* folder, const char* name, int result, uint64_t lastWriteTime)
{
    if (pendingHandle == INVALID_HANDLE_VALUE)
        return 1;
    if (result == 0) {
        // Set on the file's own handle after its last write; the rename keeps it. A failure here is
        // ignored.
        FILETIME time;
        time.dwLowDateTime = (DWORD)lastWriteTime;
        time.dwHighDateTime = (DWORD)(lastWriteTime >> 32);
        SetFileTime(pendingHandle, NULL, NULL, &time);
    }
    if (result != 0) {
        DiscardExtractedFile();
        return 1;
    }
    if (!IsJournalOpen()) {
        ClosePending();
        pendingPath[0] = '\0';
        return 0;
    }
    bool replacing = pendingKept != INVALID_FILE_ATTRIBUTES;
    bool attributesLeft = replacing && (pendingKept & ~CREATED_ATTRIBUTES) != 0;
    char path[PATH_BUFFER_SIZE];
    char kept[PATH_BUFFER_SIZE];
    bool placed = PathBelow(folder, name, path);
    bool touched = false;  // the old file has its second name, or has moved
    bool linked = false;
    if (placed && replacing) {
        // A second name keeps the old file whole while the new one takes its name in one rename;
        // where the file system has no second names (FAT, some network drives) it moves instead.
        placed = PathBelow(folder, keptName, kept) &&
                 ((linked = CreateHardLinkA(kept, path, NULL) != FALSE) || MoveHeldFile(path, kept, 0));
        touched = placed;
    }
    // Never over a file that was not the old one: whatever else stands under the name now was not
    // there when the step began.
    if (placed && (attributesLeft || !RenameThroughHandle(pendingHandle, path, linked))) {
        ClosePending();
        if (attributesLeft)
            SetFileAttributesA(pendingPath, pendingKept);
        placed = MoveHeldFile(pendingPath, path, linked ? MOVEFILE_REPLACE_EXISTING : 0);
    }
    ClosePending();
    if (!placed) {
        // The undoing removes the waiting file with the rest; an old file still in its place must
        // not be taken for the new one.
        if (!touched)
            RecordStep(JOURNAL_UNTOUCHED, NULL, NULL, NULL);
        return 1;
    }
    NoteDestination(name, pendingKept != INVALID_FILE_ATTRIBUTES ? pendingKept : FILE_ATTRIBUTE_ARCHIVE);
    pendingPath[0] = '\0';
    return 0;
}
