// Where an extracted file is written and waits (transaction/waiting_file.h).
#include "transaction/waiting_file.h"

#include <stdio.h>
#include <string.h>

#include "transaction/destination_index.h"
#include "transaction/update_journal.h"
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
        if (!JoinPath(path, folder, relative) || (int)strlen(path) + 1 + UPDATE_WAITING_NAME_DIGITS > PATH_BUFFER_SIZE - 1 ||
            RecordStep(JOURNAL_WORK_FOLDER, relative, NULL, NULL) != 0)
            return false;
        if (CreateDirectoryA(path, NULL)) {
            // Marked and on record with its identity before any file is made in it: only then is
            // it known for the updater's own, by the undoing and by a later sweep.
            FileIdentity made;
            if (!MarkWorkFolder(path) || !ReadIdentity(path, &made) ||
                RecordIdentity(JOURNAL_WORK_MADE, NULL, NULL, NULL, &made, 0) != 0)
                return false;
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

HANDLE OpenExtractedFile(const char* folder, const char* name, const FileIdentity* old)
{
    char path[PATH_BUFFER_SIZE];
    if (!JoinPath(path, folder, name))
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
        // update written somewhere else; and a file the checks did not see is not ours to replace.
        if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0 || IsLinkItem(path, attributes) ||
            old == NULL)
            return INVALID_HANDLE_VALUE;
        pendingKept = attributes & KEPT_ATTRIBUTES;
    }
    bool replacing = pendingKept != INVALID_FILE_ATTRIBUTES;
    if (!EnterWorkFolder(folder, name))
        return INVALID_HANDLE_VALUE;
    NextWaitingName(waitingName);
    if (replacing)
        NextWaitingName(keptName);
    if (!JoinPath(pendingPath, folder, waitingName) ||
        RecordIdentity(replacing ? JOURNAL_REPLACE : JOURNAL_NEW, name, waitingName, replacing ? keptName : NULL,
                       replacing ? old : NULL, 0) != 0) {
        pendingPath[0] = '\0';
        return INVALID_HANDLE_VALUE;
    }
    pendingHandle =
        CreateFileA(pendingPath, GENERIC_WRITE, 0, NULL, CREATE_NEW, CreatedAttributes(pendingKept), NULL);
    if (pendingHandle == INVALID_HANDLE_VALUE)
        pendingPath[0] = '\0';
    return pendingHandle;
}

static void ClosePending(void)
{
    if (pendingHandle != INVALID_HANDLE_VALUE)
        CloseHandle(pendingHandle);
    pendingHandle = INVALID_HANDLE_VALUE;
}

int FinishExtractedFile(const char* folder, const char* name, int result, uint64_t lastWriteTime)
{
    if (pendingHandle == INVALID_HANDLE_VALUE)
        return 1;
    if (result != 0) {
        DiscardExtractedFile();
        return 1;
    }
    // Set on the file's own handle after its last write; a failure here is ignored.
    FILETIME time;
    time.dwLowDateTime = (DWORD)lastWriteTime;
    time.dwHighDateTime = (DWORD)(lastWriteTime >> 32);
    SetFileTime(pendingHandle, NULL, NULL, &time);
    if (!IsJournalOpen()) {
        ClosePending();
        pendingPath[0] = '\0';
        return 0;
    }
    // The identity as the file system keeps it (a time may be rounded), read after the last change.
    FileIdentity made;
    bool known = ReadHandleIdentity(pendingHandle, &made);
    ClosePending();
    if (!known)
        return 1;
    bool replacing = pendingKept != INVALID_FILE_ATTRIBUTES;
    if (replacing && (pendingKept & ~CREATED_ATTRIBUTES) != 0)
        SetFileAttributesA(pendingPath, pendingKept);
    char how = 'N';
    if (replacing) {
        // A second name keeps the old file whole, in its place, while the new one takes the name
        // at the commit in one rename; where the file system has no second names (FAT, some
        // network drives) the old file moves aside at the commit instead.
        char path[PATH_BUFFER_SIZE];
        char kept[PATH_BUFFER_SIZE];
        if (!JoinPath(path, folder, name) || !JoinPath(kept, folder, keptName))
            return 1;
        how = CreateHardLinkA(kept, path, NULL) ? 'L' : 'M';
    }
    if (RecordIdentity(JOURNAL_WRITTEN, NULL, NULL, NULL, &made, how) != 0)
        return 1;
    pendingPath[0] = '\0';
    return 0;
}

int MakePackageFolder(const char* folder, const char* name)
{
    char path[PATH_BUFFER_SIZE];
    if (!JoinPath(path, folder, name))
        return 1;
    if (!IsJournalOpen()) {
        CreateDirectoryA(path, NULL);
        return 0;
    }
    if (FindDestination(folder, name) != INVALID_FILE_ATTRIBUTES)
        return 0;
    if (RecordStep(JOURNAL_FOLDER, name, NULL, NULL) != 0)
        return 1;
    NoteDestination(name, FILE_ATTRIBUTE_DIRECTORY);
    CreateDirectoryA(path, NULL);
    FileIdentity made;
    StripTrailingBackslash(path);
    if (ReadIdentity(path, &made) && RecordIdentity(JOURNAL_FOLDER_MADE, NULL, NULL, NULL, &made, 0) != 0)
        return 1;
    return 0;
}
