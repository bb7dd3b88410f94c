// Where an extracted file is written and how it takes its place (extraction/extracted_file.h).
#include "extraction/extracted_file.h"

#include <stdio.h>
#include <string.h>

#include "extraction/update_journal.h"
#include "text/buffer_sizes.h"
#include "text/entry_name_rules.h"
#include "text/path_text.h"

// Attributes an existing file hands on to the file that replaces it; the first three can be
// given when a file is made, not-indexed only by setting it afterwards.
#define KEPT_ATTRIBUTES \
    (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
#define CREATED_ATTRIBUTES (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)
#define NAME_ATTEMPTS 16
// A virus scanner, an indexer or a sync client may hold the old file a moment without letting it
// be renamed.
#define HELD_FILE_RETRIES 5
#define HELD_FILE_WAIT_MS 100

// The file being written, so that a failure, or an exit in the middle of a file (a quit message
// met while draining the queue), can remove it.
static HANDLE pendingHandle = INVALID_HANDLE_VALUE;
static char pendingPath[PATH_BUFFER_SIZE];
static DWORD pendingKept;  // INVALID_FILE_ATTRIBUTES: the destination is new
static char temporaryName[UPDATE_TEMPORARY_NAME_LENGTH + 1];
static char asideName[UPDATE_TEMPORARY_NAME_LENGTH + 1];

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
    int length = snprintf(path, sizeof path, "%s\\%s", folder, name);
    if (length <= 0 || length >= PATH_BUFFER_SIZE)
        return INVALID_HANDLE_VALUE;
    pendingKept = INVALID_FILE_ATTRIBUTES;
    if (!IsJournalOpen()) {
        pendingHandle = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (pendingHandle != INVALID_HANDLE_VALUE)
            CopyText(pendingPath, path, PATH_BUFFER_SIZE);
        return pendingHandle;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A read-only file stays as the player or the game made it; a file link would have the
        // update written somewhere else.
        if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            return INVALID_HANDLE_VALUE;
        pendingKept = attributes & KEPT_ATTRIBUTES;
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return INVALID_HANDLE_VALUE;
    }
    bool replacing = pendingKept != INVALID_FILE_ATTRIBUTES;
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        NextTemporaryName(temporaryName);
        if (replacing)
            NextTemporaryName(asideName);
        if (!ComposeSiblingPath(folder, name, temporaryName, pendingPath) ||
            RecordStep(replacing ? JOURNAL_REPLACE : JOURNAL_NEW, name, temporaryName, replacing ? asideName : NULL) != 0)
            break;
        pendingHandle = CreateFileA(pendingPath, GENERIC_WRITE, 0, NULL, CREATE_NEW, CreatedAttributes(pendingKept), NULL);
        if (pendingHandle != INVALID_HANDLE_VALUE)
            return pendingHandle;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    pendingPath[0] = '\0';
    return INVALID_HANDLE_VALUE;
}

// The old file goes aside under a temporary name in its own folder: a rename, so it keeps its
// storage, times and attributes for the undoing.
static bool MoveAside(const char* path, const char* aside)
{
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(path, aside, 0))
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
    CloseHandle(pendingHandle);
    pendingHandle = INVALID_HANDLE_VALUE;
    if (result != 0) {
        DiscardExtractedFile();
        return 1;
    }
    if (!IsJournalOpen()) {
        pendingPath[0] = '\0';
        return 0;
    }
    bool replacing = pendingKept != INVALID_FILE_ATTRIBUTES;
    if (replacing && (pendingKept & ~CREATED_ATTRIBUTES) != 0)
        SetFileAttributesA(pendingPath, pendingKept);
    char path[PATH_BUFFER_SIZE];
    char aside[PATH_BUFFER_SIZE];
    int length = snprintf(path, sizeof path, "%s\\%s", folder, name);
    bool placed = length > 0 && length < PATH_BUFFER_SIZE;
    if (placed && replacing)
        placed = ComposeSiblingPath(folder, name, asideName, aside) && MoveAside(path, aside);
    bool movedAside = placed && replacing;
    // Never over a file: whatever stands under the name now was not there when the step began.
    if (placed)
        placed = MoveFileExA(pendingPath, path, 0) != FALSE;
    if (!placed) {
        // The undoing removes the temporary file with the rest; an old file still in its place
        // must not be taken for the new one.
        if (!movedAside)
            RecordStep(JOURNAL_UNTOUCHED, NULL, NULL, NULL);
        return 1;
    }
    pendingPath[0] = '\0';
    return 0;
}
