// The record of a full pass and its undoing (extraction/update_journal.h).
#include "extraction/update_journal.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/notices.h"
#include "base/reparse_points.h"
#include "text/buffer_sizes.h"
#include "text/entry_name_rules.h"
#include "text/path_text.h"

// The first line names the format, so that a record of another kind is never acted on.
#define JOURNAL_HEADER UPDATE_JOURNAL_NAME " 1"

static HANDLE journal = INVALID_HANDLE_VALUE;
static char journalFolder[PATH_BUFFER_SIZE];

static bool JournalPath(const char* folder, char* path)
{
    int length = snprintf(path, PATH_BUFFER_SIZE, "%s\\%s", folder, UPDATE_JOURNAL_NAME);
    return length > 0 && length < PATH_BUFFER_SIZE;
}

static bool WriteLine(const char* line, int length)
{
    DWORD written = 0;
    return WriteFile(journal, line, (DWORD)length, &written, NULL) && written == (DWORD)length;
}

int BeginJournal(const char* folder)
{
    char path[PATH_BUFFER_SIZE];
    if (!JournalPath(folder, path))
        return 1;
    CopyText(journalFolder, folder, PATH_BUFFER_SIZE);
    journal = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, NULL);
    if (journal == INVALID_HANDLE_VALUE)
        return 1;
    return WriteLine(JOURNAL_HEADER "\r\n", (int)strlen(JOURNAL_HEADER "\r\n")) ? 0 : 1;
}

bool IsJournalOpen(void)
{
    return journal != INVALID_HANDLE_VALUE;
}

const char* GetJournalFolder(void)
{
    return journalFolder;
}

int RecordStep(int step, const char* name, const char* temporary, const char* aside)
{
    if (journal == INVALID_HANDLE_VALUE)
        return 1;
    char line[3 * PATH_BUFFER_SIZE + 8];
    int length = snprintf(line, sizeof line, "%c%s%s%s%s%s%s\r\n", step, name != NULL ? "\t" : "",
                          name != NULL ? name : "", temporary != NULL ? "\t" : "", temporary != NULL ? temporary : "",
                          aside != NULL ? "\t" : "", aside != NULL ? aside : "");
    return length > 0 && length < (int)sizeof line && WriteLine(line, length) ? 0 : 1;
}

static void CloseJournal(void)
{
    if (journal != INVALID_HANDLE_VALUE)
        CloseHandle(journal);
    journal = INVALID_HANDLE_VALUE;
}

static bool IsGone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

static bool IsHeld(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// True when the file is gone afterwards (or was never there).
static bool DeleteHeldFile(const char* path)
{
    for (int attempt = 0;; ++attempt) {
        if (DeleteFileA(path))
            return true;
        DWORD error = GetLastError();
        if (IsGone(error))
            return true;
        if (attempt >= HELD_FILE_RETRIES || !IsHeld(error))
            return false;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

// One step as read back; the names point into the record's text.
struct Step {
    int kind;
    const char* name;
    const char* temporary;
    const char* aside;
    bool untouched;  // an X line follows it
};

bool PathBelow(const char* folder, const char* relative, char* path)
{
    int length = snprintf(path, PATH_BUFFER_SIZE, "%s\\%s", folder, relative);
    return length > 0 && length < PATH_BUFFER_SIZE;
}

static bool IsHexDigits(const char* text)
{
    size_t length = strlen(text);
    if (length == 0 || length > UPDATE_WAITING_NAME_DIGITS)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

bool IsWorkPath(const char* name, const char* path, bool waiting)
{
    if (name == NULL || path == NULL)
        return false;
    int folderPart = FolderPartLength(name);
    if (strncmp(name, path, (size_t)folderPart) != 0)
        return false;
    const char* work = path + folderPart;
    if (!IsUpdateTemporaryName(work, waiting ? (strchr(work, '\\') != NULL ? (size_t)(strchr(work, '\\') - work) : 0)
                                             : strlen(work)))
        return false;
    return !waiting || IsHexDigits(work + UPDATE_TEMPORARY_NAME_LENGTH + 1);
}

static bool IsSoundName(const char* name, bool folder)
{
    return name != NULL && CheckEntryName(name, folder) == ENTRY_NAME_OK;
}

// A record is only ever acted on within the game folder, on names that a package could carry and
// on working folders of the updater's own form beside them: a record planted by someone else can
// reach nothing more than a broken package could.
static bool IsSoundStep(const Step* step)
{
    switch (step->kind) {
    case JOURNAL_FOLDER:
        return IsSoundName(step->name, true);
    case JOURNAL_WORK_FOLDER:
        return step->name != NULL && IsWorkPath(step->name, step->name, false);
    case JOURNAL_NEW:
        return IsSoundName(step->name, false) && IsWorkPath(step->name, step->temporary, true);
    case JOURNAL_REPLACE:
        return IsSoundName(step->name, false) && IsWorkPath(step->name, step->temporary, true) &&
               IsWorkPath(step->name, step->aside, true);
    default:
        return false;
    }
}

// Undoes one step; true when what it changed is as it was.
static bool UndoStep(const char* folder, const Step* step)
{
    char path[PATH_BUFFER_SIZE];
    if (step->kind == JOURNAL_FOLDER || step->kind == JOURNAL_WORK_FOLDER) {
        // Only an empty folder goes: anything in it that is not ours stays, and so does the folder.
        // A working folder has a name no package carries, so it goes behind a folder link too.
        if (PathBelow(folder, step->name, path) &&
            (step->kind == JOURNAL_WORK_FOLDER || !PassesThroughLink(folder, step->name, true)))
            RemoveDirectoryA(StripTrailingBackslash(path));
        return true;
    }
    bool undone = !PathBelow(folder, step->temporary, path) || DeleteHeldFile(path);
    if (step->untouched)
        return undone;
    char target[PATH_BUFFER_SIZE];
    if (!PathBelow(folder, step->name, target))
        return false;
    if (step->kind == JOURNAL_NEW) {
        if (!PassesThroughLink(folder, step->name, true))
            undone = DeleteHeldFile(target) && undone;
        return undone;
    }
    // The old file comes back under its name, over the new one if that got there. Where the kept
    // name was a second name of the old file still in its place, the rename may leave both names
    // (POSIX renames one link onto another of the same file as nothing): the kept one goes then.
    if (!PathBelow(folder, step->aside, path))
        return false;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return undone;  // never kept: the old file is still in its place
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(path, target, MOVEFILE_REPLACE_EXISTING))
            return DeleteHeldFile(path) && undone;
        if (attempt >= HELD_FILE_RETRIES || !IsHeld(GetLastError()))
            return false;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

// Splits the record into its steps (in place); NULL when it is no record of this kind. The last
// line counts only when whole: a record cut off mid-line (a lost machine) ends before it.
static Step* ReadSteps(char* text, DWORD size, int* count, bool* committed)
{
    *count = 0;
    *committed = false;
    size_t headerLength = strlen(JOURNAL_HEADER "\r\n");
    // Cut off before its first step: nothing was done.
    if (size < headerLength && memcmp(text, JOURNAL_HEADER "\r\n", size) == 0)
        return (Step*)CheckedAlloc(sizeof(Step));
    if (size < headerLength || memcmp(text, JOURNAL_HEADER "\r\n", headerLength) != 0)
        return NULL;
    int lines = 0;
    for (DWORD i = (DWORD)headerLength; i < size; ++i)
        lines += text[i] == '\n';
    Step* steps = (Step*)CheckedAlloc(sizeof(Step) * (size_t)(lines + 1));
    char* line = text + headerLength;
    char* end = text + size;
    while (line < end) {
        char* newline = (char*)memchr(line, '\n', (size_t)(end - line));
        if (newline == NULL)
            break;
        *newline = '\0';
        if (newline > line && newline[-1] == '\r')
            newline[-1] = '\0';
        Step step = {line[0], NULL, NULL, NULL, false};
        char* fields[3] = {NULL, NULL, NULL};
        char* cursor = line[0] != '\0' ? line + 1 : line;
        for (int field = 0; field < 3 && *cursor == '\t'; ++field) {
            *cursor++ = '\0';
            fields[field] = cursor;
            while (*cursor != '\0' && *cursor != '\t')
                ++cursor;
        }
        if (*cursor == '\t')
            *cursor = '\0';
        step.name = fields[0];
        step.temporary = fields[1];
        step.aside = fields[2];
        if (step.kind == JOURNAL_COMMIT)
            *committed = true;
        else if (step.kind == JOURNAL_UNTOUCHED && *count > 0)
            steps[*count - 1].untouched = true;
        else if (IsSoundStep(&step))
            steps[(*count)++] = step;
        line = newline + 1;
    }
    return steps;
}

// Reads the record of the folder and finishes it: the commit when it has one, else the undoing.
// 0 when the record is gone afterwards, or there was none.
static int FinishRecord(const char* folder)
{
    char path[PATH_BUFFER_SIZE];
    if (!JournalPath(folder, path))
        return 1;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return IsGone(GetLastError()) ? 0 : 1;
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information) || information.nFileSizeHigh != 0 ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        CloseHandle(file);
        return 1;
    }
    DWORD size = information.nFileSizeLow;
    char* text = (char*)CheckedAlloc((size_t)size + 1);
    DWORD read = 0;
    bool whole = ReadFile(file, text, size, &read, NULL) && read == size;
    CloseHandle(file);
    text[whole ? size : 0] = '\0';
    int count = 0;
    bool committed = false;
    Step* steps = whole ? ReadSteps(text, size, &count, &committed) : NULL;
    bool finished = steps != NULL;
    if (steps != NULL && committed) {
        // The kept old files first, then their working folders, which are empty only after.
        for (int i = 0; i < count; ++i) {
            char aside[PATH_BUFFER_SIZE];
            if (steps[i].kind == JOURNAL_REPLACE && !steps[i].untouched && PathBelow(folder, steps[i].aside, aside))
                finished = DeleteHeldFile(aside) && finished;
        }
        for (int i = 0; i < count; ++i) {
            char work[PATH_BUFFER_SIZE];
            if (steps[i].kind == JOURNAL_WORK_FOLDER && PathBelow(folder, steps[i].name, work) &&
                !RemoveDirectoryA(work) && !IsGone(GetLastError()))
                finished = false;
        }
    } else if (steps != NULL) {
        // Newest first: a file written twice comes back as the first write found it, and a
        // working folder is empty by the time its own step is undone.
        for (int i = count - 1; i >= 0; --i)
            finished = UndoStep(folder, &steps[i]) && finished;
    }
    free(steps);
    free(text);
    if (!finished || !DeleteHeldFile(path))
        return 1;
    return 0;
}

// Calls act on each name in the folder but "." and ".."; false when the listing fails or act does.
static bool ForEachName(const char* folder, bool (*act)(const char* folder, const WIN32_FIND_DATAA* found))
{
    char pattern[PATH_BUFFER_SIZE];
    if (!PathBelow(folder, "*", pattern))
        return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool each = true;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            each = act(folder, &found);
    } while (each && FindNextFileA(search, &found));
    FindClose(search);
    return each;
}

static bool IsPlainFile(const char* folder, const WIN32_FIND_DATAA* found)
{
    (void)folder;
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
    return (found->dwFileAttributes & notPlain) == 0;
}

static bool DeleteListedFile(const char* folder, const WIN32_FIND_DATAA* found)
{
    char path[PATH_BUFFER_SIZE];
    return PathBelow(folder, found->cFileName, path) && DeleteHeldFile(path);
}

bool SweepLeftoverFolder(const char* folder, const char* relative)
{
    char work[PATH_BUFFER_SIZE];
    const char* leaf = relative + FolderPartLength(relative);
    if (!IsUpdateTemporaryName(leaf, strlen(leaf)) || !PathBelow(folder, relative, work) ||
        PassesThroughLink(folder, relative, true))
        return false;
    // Looked at whole before anything goes, so that a folder that is not all ours loses nothing.
    return ForEachName(work, IsPlainFile) && ForEachName(work, DeleteListedFile) && RemoveDirectoryA(work);
}

int RecoverInterruptedUpdate(const char* folder)
{
    return FinishRecord(folder);
}

int CommitJournal(void)
{
    if (journal == INVALID_HANDLE_VALUE)
        return 1;
    // Until this line is written, the pass is undone rather than finished.
    bool recorded = RecordStep(JOURNAL_COMMIT, NULL, NULL, NULL) == 0;
    CloseJournal();
    // Without the line the record reads as cut off, and finishing it undoes the pass. With it, an
    // aside a scanner still holds stays on record for the next run; the update itself is done.
    FinishRecord(journalFolder);
    return recorded ? 0 : 1;
}

int RollBackJournal(void)
{
    if (journal == INVALID_HANDLE_VALUE)
        return 0;
    CloseJournal();
    return FinishRecord(journalFolder);
}
