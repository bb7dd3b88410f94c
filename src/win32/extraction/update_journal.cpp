// The record of a full pass, its commit and its undoing (extraction/update_journal.h).
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

// The first line names the format, so that a record of another kind (an earlier build's, whose
// steps carry no identities) is never acted on.
#define JOURNAL_HEADER UPDATE_JOURNAL_NAME " 2"
#define IDENTITY_FIELDS 4
#define MAX_FIELDS 8
// The windows are served at least this often while the commit or an undoing runs.
#define DRAIN_INTERVAL_MS 50

static HANDLE journal = INVALID_HANDLE_VALUE;
static char journalFolder[PATH_BUFFER_SIZE];
static char busyName[PATH_BUFFER_SIZE];
static DWORD lastDrain;

const char* GetBusyName(void)
{
    return busyName;
}

// Long work of its own keeps the windows answering; a quit waits until the work is done.
static void KeepWindowsAlive(void)
{
    DWORD now = GetTickCount();
    if (now - lastDrain >= DRAIN_INTERVAL_MS) {
        PumpMessagesHoldingQuit();
        lastDrain = GetTickCount();
    }
}

static bool JournalPath(const char* folder, char* path)
{
    int length = snprintf(path, PATH_BUFFER_SIZE, "%s\\%s", folder, UPDATE_JOURNAL_NAME);
    return length > 0 && length < PATH_BUFFER_SIZE;
}

bool PathBelow(const char* folder, const char* relative, char* path)
{
    int length = snprintf(path, PATH_BUFFER_SIZE, "%s\\%s", folder, relative);
    return length > 0 && length < PATH_BUFFER_SIZE;
}

static bool WriteLine(const char* line, int length)
{
    DWORD written = 0;
    return WriteFile(journal, line, (DWORD)length, &written, NULL) && written == (DWORD)length;
}

static bool IsGone(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

static bool IsHeld(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

int BeginJournal(const char* folder)
{
    char path[PATH_BUFFER_SIZE];
    if (!JournalPath(folder, path))
        return TRANSACTION_FAILED;
    CopyText(journalFolder, folder, PATH_BUFFER_SIZE);
    // Read back for the commit through the same handle; nobody else may write it meanwhile.
    journal = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN,
                          NULL);
    if (journal == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS ? TRANSACTION_BUSY
                                                                                             : TRANSACTION_FAILED;
    lastDrain = GetTickCount();
    return WriteLine(JOURNAL_HEADER "\r\n", (int)strlen(JOURNAL_HEADER "\r\n")) ? 0 : TRANSACTION_FAILED;
}

bool IsJournalOpen(void)
{
    return journal != INVALID_HANDLE_VALUE;
}

const char* GetJournalFolder(void)
{
    return journalFolder;
}

static void CloseJournal(void)
{
    if (journal != INVALID_HANDLE_VALUE)
        CloseHandle(journal);
    journal = INVALID_HANDLE_VALUE;
}

// Appends "\tfield" to line at *length; false when it does not fit.
static bool AddField(char* line, int size, int* length, const char* field)
{
    int added = snprintf(line + *length, (size_t)(size - *length), "\t%s", field);
    if (added < 0 || added >= size - *length)
        return false;
    *length += added;
    return true;
}

static void FormatIdentity(const FileIdentity* identity, char fields[IDENTITY_FIELDS][20])
{
    snprintf(fields[0], 20, "%08lX", (unsigned long)identity->volume);
    snprintf(fields[1], 20, "%08lX%08lX", (unsigned long)identity->indexHigh, (unsigned long)identity->indexLow);
    snprintf(fields[2], 20, "%08lX%08lX", (unsigned long)(identity->size >> 32), (unsigned long)identity->size);
    snprintf(fields[3], 20, "%08lX%08lX", (unsigned long)(identity->time >> 32), (unsigned long)identity->time);
}

int RecordIdentity(int step, const char* name, const char* waiting, const char* kept, const FileIdentity* identity,
                   char how)
{
    if (journal == INVALID_HANDLE_VALUE)
        return 1;
    char line[3 * PATH_BUFFER_SIZE + 96];
    int length = snprintf(line, sizeof line, "%c", step);
    const char* names[3] = {name, waiting, kept};
    for (int i = 0; i < 3; ++i) {
        if (names[i] != NULL && !AddField(line, (int)sizeof line - 2, &length, names[i]))
            return 1;
    }
    if (identity != NULL) {
        char fields[IDENTITY_FIELDS][20];
        FormatIdentity(identity, fields);
        for (int i = 0; i < IDENTITY_FIELDS; ++i) {
            if (!AddField(line, (int)sizeof line - 2, &length, fields[i]))
                return 1;
        }
    }
    if (how != 0) {
        char text[2] = {how, '\0'};
        if (!AddField(line, (int)sizeof line - 2, &length, text))
            return 1;
    }
    line[length++] = '\r';
    line[length++] = '\n';
    return WriteLine(line, length) ? 0 : 1;
}

int RecordStep(int step, const char* name, const char* waiting, const char* kept)
{
    return RecordIdentity(step, name, waiting, kept, NULL, 0);
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
static HANDLE OpenItem(const char* path, DWORD access)
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

static bool SameItem(const FileIdentity* a, const FileIdentity* b)
{
    return a->volume == b->volume && a->indexHigh == b->indexHigh && a->indexLow == b->indexLow &&
           a->size == b->size && a->time == b->time;
}

// What stands at a name, against the identities a step knows.
enum ItemState {
    ITEM_NONE,     // nothing
    ITEM_OTHER,    // something else: not ours to touch
    ITEM_MATCH,    // the identity asked about
    ITEM_UNKNOWN,  // something that cannot be looked at now (held)
};

static int LookAt(const char* path, const FileIdentity* expected, FileIdentity* found)
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
        if (IsGone(error))
            return ITEM_NONE;
        if (attempt >= HELD_FILE_RETRIES || !IsHeld(error))
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
static bool RenameThroughHandle(HANDLE item, const char* destinationPath, bool replace)
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

static bool DeleteThroughHandle(HANDLE item)
{
    SetFileInformationByHandleFunction setInformation = HandleInformationSetter();
    BOOLEAN dispose = TRUE;
    return setInformation != NULL && setInformation(item, FILE_DISPOSITION_INFO_CLASS, &dispose, sizeof dispose);
}

// Outcomes of acting on an identified item.
enum ActOutcome {
    ACT_DONE,
    ACT_NOT_OURS,  // nothing there, or something else: left alone
    ACT_HELD,      // it is ours, but in use
    ACT_FAILED,
};

// Deletes the item at path (a file, or an empty folder) when it is still the expected one; the
// look and the delete go through one handle where the system allows, so nothing that took the
// name in between is hit.
static int DeleteIfSame(const char* path, const FileIdentity* expected, bool folder)
{
    for (int attempt = 0;; ++attempt) {
        HANDLE item = OpenItem(path, DELETE);
        if (item == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (IsGone(error))
                return ACT_NOT_OURS;
            if (attempt >= HELD_FILE_RETRIES || !IsHeld(error))
                return IsHeld(error) ? ACT_HELD : ACT_FAILED;
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
        if (attempt >= HELD_FILE_RETRIES || !IsHeld(error))
            return IsHeld(error) ? ACT_HELD : ACT_FAILED;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

// Renames the item at from to to when it is still the expected one.
static int MoveIfSame(const char* from, const FileIdentity* expected, const char* to, bool replace)
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
            if (IsGone(error))
                return ACT_NOT_OURS;
        }
        if (attempt >= HELD_FILE_RETRIES || !IsHeld(error))
            return IsHeld(error) ? ACT_HELD : ACT_FAILED;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

// One step as read back; the names point into the record's text.
struct Step {
    int kind;
    const char* name;
    const char* waiting;
    const char* kept;
    FileIdentity old;   // JOURNAL_REPLACE
    FileIdentity made;  // the made item's, when its W, T or E line follows
    bool hasMade;
    char how;  // from the W line: 'N', 'L', 'M'
};

static bool IsHexDigits(const char* text, size_t most)
{
    size_t length = strlen(text);
    if (length == 0 || length > most)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

static uint64_t HexValue(const char* text)
{
    uint64_t value = 0;
    for (const char* c = text; *c != '\0'; ++c)
        value = (value << 4) | (uint64_t)(*c <= '9' ? *c - '0' : *c - 'A' + 10);
    return value;
}

// Four fields of hexadecimal digits; false when they are not that.
static bool ParseIdentity(char** fields, FileIdentity* identity)
{
    for (int i = 0; i < IDENTITY_FIELDS; ++i) {
        if (fields[i] == NULL || !IsHexDigits(fields[i], i == 0 ? 8 : 16))
            return false;
    }
    identity->volume = (DWORD)HexValue(fields[0]);
    uint64_t index = HexValue(fields[1]);
    identity->indexHigh = (DWORD)(index >> 32);
    identity->indexLow = (DWORD)index;
    identity->size = HexValue(fields[2]);
    identity->time = HexValue(fields[3]);
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
    const char* separator = strchr(work, '\\');
    if (!waiting)
        return separator == NULL && IsUpdateTemporaryName(work, strlen(work));
    return separator != NULL && IsUpdateTemporaryName(work, (size_t)(separator - work)) &&
           IsHexDigits(separator + 1, UPDATE_WAITING_NAME_DIGITS);
}

static bool IsSoundName(const char* name, bool folder)
{
    return name != NULL && CheckEntryName(name, folder) == ENTRY_NAME_OK;
}

// A record is only ever acted on within the game folder, on names that a package could carry and
// on working folders of the updater's own form beside them.
static bool IsSoundStep(const Step* step)
{
    switch (step->kind) {
    case JOURNAL_FOLDER:
        return IsSoundName(step->name, true);
    case JOURNAL_WORK_FOLDER:
        return IsWorkPath(step->name, step->name, false);
    case JOURNAL_NEW:
        return IsSoundName(step->name, false) && IsWorkPath(step->name, step->waiting, true);
    case JOURNAL_REPLACE:
        return IsSoundName(step->name, false) && IsWorkPath(step->name, step->waiting, true) &&
               IsWorkPath(step->name, step->kept, true) && strcmp(step->waiting, step->kept) != 0;
    default:
        return false;
    }
}

// Splits the record into its steps (in place); NULL when it is no record of this kind. The last
// line counts only when whole: a record cut off mid-line (a lost machine) ends before it.
static Step* ReadSteps(char* text, DWORD size, int* count, bool* committed, bool* abandoned)
{
    *count = 0;
    *committed = false;
    *abandoned = false;
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
        char* fields[MAX_FIELDS] = {NULL};
        int fieldCount = 0;
        char* cursor = line[0] != '\0' ? line + 1 : line;
        while (*cursor == '\t' && fieldCount < MAX_FIELDS) {
            *cursor++ = '\0';
            fields[fieldCount++] = cursor;
            while (*cursor != '\0' && *cursor != '\t')
                ++cursor;
        }
        bool whole = *cursor == '\0';
        Step* last = *count > 0 ? &steps[*count - 1] : NULL;
        Step step;
        memset(&step, 0, sizeof step);
        step.kind = line[0];
        switch (step.kind) {
        case JOURNAL_COMMIT:
            *committed = true;
            break;
        case JOURNAL_UNDO:
            *abandoned = true;
            break;
        case JOURNAL_WORK_MADE:
        case JOURNAL_FOLDER_MADE:
            if (whole && fieldCount == IDENTITY_FIELDS && last != NULL && !last->hasMade &&
                last->kind == (step.kind == JOURNAL_WORK_MADE ? JOURNAL_WORK_FOLDER : JOURNAL_FOLDER))
                last->hasMade = ParseIdentity(fields, &last->made);
            break;
        case JOURNAL_WRITTEN:
            if (whole && fieldCount == IDENTITY_FIELDS + 1 && last != NULL && !last->hasMade &&
                (last->kind == JOURNAL_NEW || last->kind == JOURNAL_REPLACE) && strlen(fields[4]) == 1 &&
                strchr(last->kind == JOURNAL_NEW ? "N" : "LM", fields[4][0]) != NULL &&
                ParseIdentity(fields, &last->made)) {
                last->hasMade = true;
                last->how = fields[4][0];
            }
            break;
        default:
            step.name = fields[0];
            step.waiting = fields[1];
            step.kept = fields[2];
            if (!whole)
                break;
            if (step.kind == JOURNAL_REPLACE && (fieldCount != 3 + IDENTITY_FIELDS || !ParseIdentity(fields + 3, &step.old)))
                break;
            if (step.kind != JOURNAL_REPLACE && fieldCount != (step.kind == JOURNAL_NEW ? 2 : 1))
                break;
            if (IsSoundStep(&step))
                steps[(*count)++] = step;
            break;
        }
        line = newline + 1;
    }
    return steps;
}

// The working folder a waiting or kept name lies in ("data\\~upd12AB.tmp"), into work: the name
// without its last component.
static void WorkFolderOf(const char* waiting, char* work)
{
    CopyText(work, waiting, PATH_BUFFER_SIZE);
    int folderPart = FolderPartLength(waiting);
    work[folderPart > 0 ? folderPart - 1 : 0] = '\0';
}

// The record's steps and what was found of each working folder.
struct Record {
    const char* folder;
    Step* steps;
    int count;
    bool* ours;  // per step: a working folder step whose folder is the updater's (identity, mark)
    bool* keptForPlayer;  // per working folder step: an old file stays in it
    bool held;   // something of ours could not be touched because it is in use
};

static bool HasMark(const char* workPath)
{
    char path[PATH_BUFFER_SIZE];
    if (!PathBelow(workPath, UPDATE_MARK_NAME, path))
        return false;
    HANDLE mark = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (mark == INVALID_HANDLE_VALUE)
        return false;
    char text[64];
    DWORD read = 0;
    bool same = ReadFile(mark, text, sizeof text, &read, NULL) && read == strlen(UPDATE_MARK_TEXT) &&
                memcmp(text, UPDATE_MARK_TEXT, read) == 0;
    BY_HANDLE_FILE_INFORMATION information;
    same = same && GetFileInformationByHandle(mark, &information) &&
           (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
    CloseHandle(mark);
    return same;
}

bool MarkWorkFolder(const char* path)
{
    char markPath[PATH_BUFFER_SIZE];
    if (!PathBelow(path, UPDATE_MARK_NAME, markPath))
        return false;
    HANDLE mark = CreateFileA(markPath, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (mark == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool whole = WriteFile(mark, UPDATE_MARK_TEXT, (DWORD)strlen(UPDATE_MARK_TEXT), &written, NULL) &&
                 written == strlen(UPDATE_MARK_TEXT);
    CloseHandle(mark);
    return whole;
}

// A working folder is the updater's when it is the folder the record made (or, made but not yet
// on record, carries the mark), is no link, and is reached through none of its own.
static bool IsOurWorkFolder(const char* folder, const Step* step)
{
    char path[PATH_BUFFER_SIZE];
    // Wine opens a Unix link's target even when asked for the link itself: the attributes tell
    // a link apart on every system. Behind a folder link, only the identity the record holds
    // makes the folder ours.
    if (!PathBelow(folder, step->name, path))
        return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLinkItem(path, attributes) ||
        (!step->hasMade && PassesThroughLink(folder, step->name, false)))
        return false;
    HANDLE item = OpenItem(path, 0);
    if (item == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    FileIdentity identity;
    bool plain = GetFileInformationByHandle(item, &information) &&
                 (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                 (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && ReadHandleIdentity(item, &identity);
    CloseHandle(item);
    if (!plain)
        return false;
    return step->hasMade ? SameItem(&identity, &step->made) && HasMark(path) : HasMark(path);
}

// The working folder step that a waiting name lies in; -1 when the record has none that is ours.
static int WorkStepOf(const Record* record, const char* waiting)
{
    char work[PATH_BUFFER_SIZE];
    WorkFolderOf(waiting, work);
    for (int i = 0; i < record->count; ++i) {
        if (record->steps[i].kind == JOURNAL_WORK_FOLDER && record->ours[i] && _stricmp(record->steps[i].name, work) == 0)
            return i;
    }
    return -1;
}

static void NoteOutcome(Record* record, int outcome, const char* name)
{
    if (outcome == ACT_HELD) {
        if (!record->held)
            CopyText(busyName, name, PATH_BUFFER_SIZE);
        record->held = true;
    }
}

// True when the item at the name is one that a step of this record wrote.
static bool IsMadeByRecord(const Record* record, const FileIdentity* identity)
{
    for (int i = 0; i < record->count; ++i) {
        const Step* step = &record->steps[i];
        if ((step->kind == JOURNAL_NEW || step->kind == JOURNAL_REPLACE) && step->hasMade && SameItem(&step->made, identity))
            return true;
    }
    return false;
}

// The waiting file goes: only inside a working folder of ours, and only the file the step wrote
// (or, its W line lost, whatever waits at that name: nobody else writes there).
static void DropWaiting(Record* record, const Step* step)
{
    char path[PATH_BUFFER_SIZE];
    if (WorkStepOf(record, step->waiting) < 0 || !PathBelow(record->folder, step->waiting, path))
        return;
    NoteOutcome(record, DeleteIfSame(path, step->hasMade ? &step->made : NULL, false), step->name);
}

// Undoes one file step, whatever point of the commit it reached.
static void UndoFileStep(Record* record, const Step* step)
{
    char target[PATH_BUFFER_SIZE];
    char kept[PATH_BUFFER_SIZE];
    if (!PathBelow(record->folder, step->name, target))
        return;
    FileIdentity atName;
    int state = LookAt(target, step->kind == JOURNAL_REPLACE ? &step->old : NULL, &atName);
    bool oursAtName = state == ITEM_OTHER && IsMadeByRecord(record, &atName);
    if (state == ITEM_UNKNOWN)
        NoteOutcome(record, ACT_HELD, step->name);
    if (step->kind == JOURNAL_NEW) {
        // What this run made goes wherever it is, behind a folder link too: it is known by identity.
        if (oursAtName)
            NoteOutcome(record, DeleteIfSame(target, &atName, false), step->name);
        DropWaiting(record, step);
        return;
    }
    int work = WorkStepOf(record, step->kept);
    bool keptHere = work >= 0 && PathBelow(record->folder, step->kept, kept) && LookAt(kept, &step->old, NULL) == ITEM_MATCH;
    if (keptHere) {
        if (oursAtName || state == ITEM_NONE)
            NoteOutcome(record, MoveIfSame(kept, &step->old, target, oursAtName), step->name);
        else if (state == ITEM_MATCH)
            NoteOutcome(record, DeleteIfSame(kept, &step->old, false), step->name);  // its second name
        else if (state == ITEM_OTHER)
            record->keptForPlayer[work] = true;
    }
    DropWaiting(record, step);
}

// Finishes one file step of a commit: the waiting file takes the name only when the name still
// holds the old file (or nothing, for a new one, or the old file already moved aside).
static void FinishFileStep(Record* record, const Step* step)
{
    char target[PATH_BUFFER_SIZE];
    char waiting[PATH_BUFFER_SIZE];
    char kept[PATH_BUFFER_SIZE];
    if (!step->hasMade || !PathBelow(record->folder, step->name, target) ||
        !PathBelow(record->folder, step->waiting, waiting) || WorkStepOf(record, step->waiting) < 0) {
        DropWaiting(record, step);
        return;
    }
    FileIdentity atName;
    int state = LookAt(target, step->kind == JOURNAL_REPLACE ? &step->old : NULL, &atName);
    if (state == ITEM_UNKNOWN) {
        NoteOutcome(record, ACT_HELD, step->name);
        return;
    }
    bool oursAtName = state == ITEM_OTHER && IsMadeByRecord(record, &atName);
    if (state == ITEM_OTHER && SameItem(&atName, &step->made))
        return;  // in place already
    int work = step->kind == JOURNAL_REPLACE ? WorkStepOf(record, step->kept) : -1;
    bool keptPath = work >= 0 && PathBelow(record->folder, step->kept, kept);
    if (step->kind == JOURNAL_REPLACE && step->how == 'M' && state == ITEM_MATCH) {
        if (!keptPath)
            return;
        int moved = MoveIfSame(target, &step->old, kept, false);
        NoteOutcome(record, moved, step->name);
        if (moved != ACT_DONE)
            return;
        state = ITEM_NONE;
    }
    bool replace = state == ITEM_MATCH || oursAtName;
    if (state == ITEM_NONE || replace) {
        NoteOutcome(record, MoveIfSame(waiting, &step->made, target, replace), step->name);
        return;
    }
    // Someone else's file has the name now: it stays, and so does a kept old file, for the player.
    if (keptPath && LookAt(kept, &step->old, NULL) == ITEM_MATCH)
        record->keptForPlayer[work] = true;
    DropWaiting(record, step);
}

// After a finished commit: a kept old file goes where its name holds a file this run made; where
// the name holds something else, the old file stays for the player.
static void DropKeptFile(Record* record, const Step* step)
{
    char target[PATH_BUFFER_SIZE];
    char kept[PATH_BUFFER_SIZE];
    int work = WorkStepOf(record, step->kept);
    if (work < 0 || !PathBelow(record->folder, step->kept, kept) || !PathBelow(record->folder, step->name, target))
        return;
    FileIdentity atName;
    int state = LookAt(target, &step->old, &atName);
    if (state == ITEM_MATCH || (state == ITEM_OTHER && IsMadeByRecord(record, &atName)))
        NoteOutcome(record, DeleteIfSame(kept, &step->old, false), step->name);
    else if (LookAt(kept, &step->old, NULL) == ITEM_MATCH)
        record->keptForPlayer[work] = true;
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

static bool IsMarkOnly(const char* folder, const WIN32_FIND_DATAA* found)
{
    (void)folder;
    return _stricmp(found->cFileName, UPDATE_MARK_NAME) == 0;
}

static bool IsWaitingFile(const char* folder, const WIN32_FIND_DATAA* found)
{
    (void)folder;
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
    return (found->dwFileAttributes & notPlain) == 0 &&
           (_stricmp(found->cFileName, UPDATE_MARK_NAME) == 0 || IsHexDigits(found->cFileName, UPDATE_WAITING_NAME_DIGITS));
}

static bool DeleteWaitingFile(const char* folder, const WIN32_FIND_DATAA* found)
{
    char path[PATH_BUFFER_SIZE];
    if (_stricmp(found->cFileName, UPDATE_MARK_NAME) == 0)
        return true;
    return PathBelow(folder, found->cFileName, path) && DeleteIfSame(path, NULL, false) == ACT_DONE;
}

// Removes the mark and then the folder, once nothing but the mark is left. Where a file in it is
// still held (a delete that waits for its last handle), the mark stays for a later sweep.
static bool RemoveMarkedFolder(const char* path)
{
    char mark[PATH_BUFFER_SIZE];
    if (!ForEachName(path, IsMarkOnly) || !PathBelow(path, UPDATE_MARK_NAME, mark))
        return false;
    DeleteFileA(mark);
    if (RemoveDirectoryA(path))
        return true;
    MarkWorkFolder(path);
    return false;
}

// The working folders go: empty but for the mark. One that keeps an old file for the player
// loses its mark, so that no sweep ever takes it.
static void DropWorkFolders(Record* record)
{
    for (int i = record->count - 1; i >= 0; --i) {
        KeepWindowsAlive();
        const Step* step = &record->steps[i];
        char path[PATH_BUFFER_SIZE];
        if (step->kind != JOURNAL_WORK_FOLDER || !record->ours[i] || !PathBelow(record->folder, step->name, path))
            continue;
        char mark[PATH_BUFFER_SIZE];
        if (record->keptForPlayer[i] && PathBelow(path, UPDATE_MARK_NAME, mark))
            DeleteFileA(mark);
        else
            RemoveMarkedFolder(path);
    }
}

// Package folders the pass made go again when empty: a made one by its identity (behind a folder
// link too), one not yet on record only where no link is on the way.
static void DropMadeFolders(Record* record)
{
    for (int i = record->count - 1; i >= 0; --i) {
        KeepWindowsAlive();
        const Step* step = &record->steps[i];
        char path[PATH_BUFFER_SIZE];
        if (step->kind != JOURNAL_FOLDER || !PathBelow(record->folder, step->name, path))
            continue;
        StripTrailingBackslash(path);
        if (step->hasMade)
            DeleteIfSame(path, &step->made, true);
        else if (!PassesThroughLink(record->folder, step->name, true))
            RemoveDirectoryA(path);
    }
}

static void FindOurWorkFolders(Record* record)
{
    for (int i = 0; i < record->count; ++i)
        record->ours[i] = record->steps[i].kind == JOURNAL_WORK_FOLDER && IsOurWorkFolder(record->folder, &record->steps[i]);
}

// Before the commit no name of the game's has changed: the waiting files go (nobody else writes
// in a working folder of ours), and each second name of an old file goes while the old file keeps
// another name; one that has become the only name of the old file stays for the player.
static void UndoWaitingStep(Record* record, const Step* step)
{
    char path[PATH_BUFFER_SIZE];
    if (WorkStepOf(record, step->waiting) >= 0 && PathBelow(record->folder, step->waiting, path) && !DeleteFileA(path)) {
        DWORD error = GetLastError();
        if (!IsGone(error))
            NoteOutcome(record, IsHeld(error) ? ACT_HELD : ACT_FAILED, step->name);
    }
    int work = step->kind == JOURNAL_REPLACE ? WorkStepOf(record, step->kept) : -1;
    if (work < 0 || !PathBelow(record->folder, step->kept, path))
        return;
    HANDLE kept = OpenItem(path, DELETE);
    if (kept == INVALID_HANDLE_VALUE) {
        if (!IsGone(GetLastError()))
            NoteOutcome(record, ACT_HELD, step->name);
        return;
    }
    BY_HANDLE_FILE_INFORMATION information;
    FileIdentity identity;
    bool same = GetFileInformationByHandle(kept, &information) && ReadHandleIdentity(kept, &identity) &&
                SameItem(&identity, &step->old);
    if (same && information.nNumberOfLinks >= 2) {
        bool deleted = DeleteThroughHandle(kept);
        CloseHandle(kept);
        if (!deleted && !DeleteFileA(path) && !IsGone(GetLastError()))
            NoteOutcome(record, ACT_HELD, step->name);
        return;
    }
    CloseHandle(kept);
    if (same)
        record->keptForPlayer[work] = true;
}

// Undoes every step on record, newest first, so that a name written twice comes back as the first
// write found it.
static void UndoRecord(Record* record, bool beforeCommit)
{
    for (int i = record->count - 1; i >= 0; --i) {
        KeepWindowsAlive();
        const Step* step = &record->steps[i];
        if (step->kind != JOURNAL_NEW && step->kind != JOURNAL_REPLACE)
            continue;
        if (beforeCommit)
            UndoWaitingStep(record, step);
        else
            UndoFileStep(record, step);
    }
    DropWorkFolders(record);
    DropMadeFolders(record);
}

static void FinishRecordedCommit(Record* record)
{
    for (int i = 0; i < record->count; ++i) {
        KeepWindowsAlive();
        if (record->steps[i].kind == JOURNAL_NEW || record->steps[i].kind == JOURNAL_REPLACE)
            FinishFileStep(record, &record->steps[i]);
    }
    if (record->held)
        return;  // the record stays: the next try finishes it
    for (int i = 0; i < record->count; ++i) {
        KeepWindowsAlive();
        if (record->steps[i].kind == JOURNAL_REPLACE)
            DropKeptFile(record, &record->steps[i]);
    }
    DropWorkFolders(record);
}

// Sets a record that cannot be read aside under a free name: it is never acted on, never blocks
// an update, and stays for whoever wants to look at it.
static int SetRecordAside(const char* folder)
{
    char path[PATH_BUFFER_SIZE];
    if (!JournalPath(folder, path))
        return TRANSACTION_FAILED;
    for (int number = 1; number < 100; ++number) {
        char aside[PATH_BUFFER_SIZE];
        int length = number == 1 ? snprintf(aside, sizeof aside, "%s\\%s", folder, UPDATE_JOURNAL_ASIDE_NAME)
                                 : snprintf(aside, sizeof aside, "%s\\%s%d", folder, UPDATE_JOURNAL_ASIDE_NAME, number);
        if (length <= 0 || length >= (int)sizeof aside)
            return TRANSACTION_FAILED;
        if (MoveFileExA(path, aside, 0))
            return 0;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return IsHeld(error) ? TRANSACTION_BUSY : TRANSACTION_FAILED;
    }
    return TRANSACTION_FAILED;
}

// Reads the record of the folder and finishes it: the commit when it got that far (and was not
// abandoned), else the undoing. The record goes when nothing of it is left to do.
static int FinishRecord(const char* folder)
{
    char path[PATH_BUFFER_SIZE];
    if (!JournalPath(folder, path))
        return TRANSACTION_FAILED;
    busyName[0] = '\0';
    // Another updater writing the record holds it without sharing writes: that one is at work.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (IsGone(error))
            return 0;
        return error == ERROR_SHARING_VIOLATION ? TRANSACTION_BUSY : SetRecordAside(folder);
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information) || information.nFileSizeHigh != 0 ||
        information.nFileSizeLow > 64u * 1024 * 1024 ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        CloseHandle(file);
        return SetRecordAside(folder);
    }
    DWORD size = information.nFileSizeLow;
    char* text = (char*)CheckedAlloc((size_t)size + 1);
    DWORD read = 0;
    bool whole = ReadFile(file, text, size, &read, NULL) && read == size;
    CloseHandle(file);
    text[whole ? size : 0] = '\0';
    Record record;
    memset(&record, 0, sizeof record);
    record.folder = folder;
    bool committed = false;
    bool abandoned = false;
    record.steps = whole ? ReadSteps(text, size, &record.count, &committed, &abandoned) : NULL;
    if (record.steps == NULL) {
        free(text);
        return SetRecordAside(folder);
    }
    lastDrain = GetTickCount();
    record.ours = (bool*)CheckedAlloc(sizeof(bool) * (size_t)(record.count + 1));
    record.keptForPlayer = (bool*)CheckedAlloc(sizeof(bool) * (size_t)(record.count + 1));
    memset(record.keptForPlayer, 0, sizeof(bool) * (size_t)(record.count + 1));
    FindOurWorkFolders(&record);
    if (committed && !abandoned)
        FinishRecordedCommit(&record);
    else
        UndoRecord(&record, !committed);
    bool held = record.held;
    free(record.ours);
    free(record.keptForPlayer);
    free(record.steps);
    free(text);
    ReleaseHeldQuit();
    if (held)
        return TRANSACTION_IN_USE;
    // A record that cannot be deleted (read-only) is set aside: its work is done.
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(path) && !IsGone(GetLastError()))
        return SetRecordAside(folder);
    return 0;
}

bool SweepLeftoverFolder(const char* folder, const char* relative)
{
    char work[PATH_BUFFER_SIZE];
    const char* leaf = relative + FolderPartLength(relative);
    if (!IsUpdateTemporaryName(leaf, strlen(leaf)) || !PathBelow(folder, relative, work) ||
        PassesThroughLink(folder, relative, true) || !HasMark(work))
        return false;
    // Looked at whole before anything goes, so that a folder that is not all ours loses nothing.
    return ForEachName(work, IsWaitingFile) && ForEachName(work, DeleteWaitingFile) && RemoveMarkedFolder(work);
}

int RecoverInterruptedUpdate(const char* folder)
{
    return FinishRecord(folder);
}

// The whole record as written so far, for the commit; NULL when it cannot be read back.
static char* ReadBackJournal(DWORD* size)
{
    LARGE_INTEGER length;
    if (!GetFileSizeEx(journal, &length) || length.HighPart != 0)
        return NULL;
    char* text = (char*)CheckedAlloc((size_t)length.LowPart + 1);
    DWORD read = 0;
    LARGE_INTEGER start = {{0, 0}};
    if (!SetFilePointerEx(journal, start, NULL, FILE_BEGIN) || !ReadFile(journal, text, length.LowPart, &read, NULL) ||
        read != length.LowPart || !SetFilePointerEx(journal, start, NULL, FILE_END)) {
        free(text);
        return NULL;
    }
    *size = read;
    return text;
}

static bool MoveHeld(const char* from, const char* to, DWORD flags, DWORD* error)
{
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(from, to, flags))
            return true;
        *error = GetLastError();
        if (attempt >= HELD_FILE_RETRIES || !IsHeld(*error))
            return false;
        Sleep(HELD_FILE_WAIT_MS);
    }
}

static bool IsNamedEarlier(const Record* record, int index)
{
    for (int j = 0; j < index; ++j) {
        const Step* step = &record->steps[j];
        if ((step->kind == JOURNAL_NEW || step->kind == JOURNAL_REPLACE) && _stricmp(step->name, record->steps[index].name) == 0)
            return true;
    }
    return false;
}

// The renames of this run's own commit, on files it wrote a moment ago: no identity is looked at
// again. False at the first that fails (the undoing then puts back what was done).
static bool RenameWaitingFiles(const Record* record)
{
    for (int i = 0; i < record->count; ++i) {
        KeepWindowsAlive();
        const Step* step = &record->steps[i];
        if (step->kind != JOURNAL_NEW && step->kind != JOURNAL_REPLACE)
            continue;
        char target[PATH_BUFFER_SIZE];
        char waiting[PATH_BUFFER_SIZE];
        char kept[PATH_BUFFER_SIZE];
        DWORD error = NO_ERROR;
        bool done = step->hasMade && PathBelow(record->folder, step->name, target) &&
                    PathBelow(record->folder, step->waiting, waiting);
        if (done && step->how == 'M')
            done = PathBelow(record->folder, step->kept, kept) && MoveHeld(target, kept, 0, &error);
        if (done) {
            done = MoveHeld(waiting, target, step->how == 'L' ? MOVEFILE_REPLACE_EXISTING : 0, &error);
            // A name the package carries twice holds this run's earlier file by now: replaced.
            if (!done && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) && IsNamedEarlier(record, i))
                done = MoveHeld(waiting, target, MOVEFILE_REPLACE_EXISTING, &error);
        }
        if (!done) {
            if (IsHeld(error))
                CopyText(busyName, step->name, PATH_BUFFER_SIZE);
            return false;
        }
    }
    return true;
}

// After this run's own commit: the kept old files and the working folders go.
static void DropCommittedLeftovers(Record* record)
{
    for (int i = 0; i < record->count; ++i) {
        KeepWindowsAlive();
        const Step* step = &record->steps[i];
        char kept[PATH_BUFFER_SIZE];
        if (step->kind == JOURNAL_REPLACE && PathBelow(record->folder, step->kept, kept) && !DeleteFileA(kept) &&
            !IsGone(GetLastError()))
            NoteOutcome(record, DeleteIfSame(kept, &step->old, false), step->name);
    }
    DropWorkFolders(record);
}

int CommitJournal(void)
{
    if (journal == INVALID_HANDLE_VALUE)
        return TRANSACTION_FAILED;
    busyName[0] = '\0';
    DWORD size = 0;
    char* text = ReadBackJournal(&size);
    Record record;
    memset(&record, 0, sizeof record);
    record.folder = journalFolder;
    bool committed = false;
    bool abandoned = false;
    record.steps = text != NULL ? ReadSteps(text, size, &record.count, &committed, &abandoned) : NULL;
    // Until this line is on the disk, the pass is undone rather than finished.
    bool started = record.steps != NULL && RecordStep(JOURNAL_COMMIT, NULL, NULL, NULL) == 0 &&
                   FlushFileBuffers(journal);
    int result = 0;
    if (started) {
        record.ours = (bool*)CheckedAlloc(sizeof(bool) * (size_t)(record.count + 1));
        record.keptForPlayer = (bool*)CheckedAlloc(sizeof(bool) * (size_t)(record.count + 1));
        memset(record.keptForPlayer, 0, sizeof(bool) * (size_t)(record.count + 1));
        for (int i = 0; i < record.count; ++i)
            record.ours[i] = record.steps[i].kind == JOURNAL_WORK_FOLDER;
        if (RenameWaitingFiles(&record)) {
            CloseJournal();
            DropCommittedLeftovers(&record);
            char path[PATH_BUFFER_SIZE];
            // Kept files a scanner still holds stay under the mark for a later sweep; the record
            // has nothing left to do.
            if (JournalPath(journalFolder, path))
                DeleteFileA(path);
        } else {
            result = busyName[0] != '\0' ? TRANSACTION_IN_USE : TRANSACTION_FAILED;
            char name[PATH_BUFFER_SIZE];
            CopyText(name, busyName, PATH_BUFFER_SIZE);
            RecordStep(JOURNAL_UNDO, NULL, NULL, NULL);
            CloseJournal();
            FinishRecord(journalFolder);
            CopyText(busyName, name, PATH_BUFFER_SIZE);
        }
        free(record.ours);
        free(record.keptForPlayer);
    } else {
        result = TRANSACTION_FAILED;
        CloseJournal();
        FinishRecord(journalFolder);
    }
    free(record.steps);
    free(text);
    ReleaseHeldQuit();
    return result;
}

int RollBackJournal(void)
{
    if (journal == INVALID_HANDLE_VALUE)
        return 0;
    CloseJournal();
    return FinishRecord(journalFolder);
}
