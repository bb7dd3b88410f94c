// The commit of a full pass and its undoing (transaction/update_journal.h).
#include "transaction/update_journal.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/notices.h"
#include "base/reparse_points.h"
#include "text/buffer_sizes.h"
#include "text/entry_name_rules.h"
#include "text/path_text.h"

// The windows are served at least this often while the commit or an undoing runs.
#define DRAIN_INTERVAL_MS 50

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
    int lastWork;  // the working folder step found last
};

static bool HasMark(const char* workPath)
{
    char path[PATH_BUFFER_SIZE];
    if (!JoinPath(path, workPath, UPDATE_MARK_NAME))
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
    if (!JoinPath(markPath, path, UPDATE_MARK_NAME))
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
    if (!JoinPath(path, folder, step->name))
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
static int WorkStepOf(Record* record, const char* waiting)
{
    char work[PATH_BUFFER_SIZE];
    WorkFolderOf(waiting, work);
    // The files of one working folder stand together in the record: the last one found first.
    int last = record->lastWork;
    if (last >= 0 && last < record->count && record->ours[last] && _stricmp(record->steps[last].name, work) == 0)
        return last;
    for (int i = 0; i < record->count; ++i) {
        if (record->steps[i].kind == JOURNAL_WORK_FOLDER && record->ours[i] && _stricmp(record->steps[i].name, work) == 0)
            return record->lastWork = i;
    }
    return -1;
}

// What acting on an item came to; work is the working folder step the item lies in (-1: a name of
// the game's). Something not ours in a working folder keeps the folder, unmarked, for the player.
static void NoteOutcome(Record* record, int outcome, const char* name, int work = -1)
{
    if (outcome == ACT_NOT_OURS && work >= 0)
        record->keptForPlayer[work] = true;
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
    int work = WorkStepOf(record, step->waiting);
    if (work < 0 || !JoinPath(path, record->folder, step->waiting))
        return;
    NoteOutcome(record, DeleteIfSame(path, step->hasMade ? &step->made : NULL, false), step->name, work);
}

// Undoes one file step, whatever point of the commit it reached.
static void UndoFileStep(Record* record, const Step* step)
{
    char target[PATH_BUFFER_SIZE];
    char kept[PATH_BUFFER_SIZE];
    if (!JoinPath(target, record->folder, step->name))
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
    int keptState = work >= 0 && JoinPath(kept, record->folder, step->kept) ? LookAt(kept, &step->old, NULL) : ITEM_NONE;
    if (keptState == ITEM_MATCH) {
        if (oursAtName || state == ITEM_NONE)
            NoteOutcome(record, MoveIfSame(kept, &step->old, target, oursAtName), step->name, work);
        else if (state == ITEM_MATCH)
            NoteOutcome(record, DeleteIfSame(kept, &step->old, false), step->name, work);  // its second name
        else if (state == ITEM_OTHER)
            record->keptForPlayer[work] = true;
    } else if (keptState == ITEM_OTHER) {
        record->keptForPlayer[work] = true;  // not the file the step set aside: someone put it there
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
    if (!step->hasMade || !JoinPath(target, record->folder, step->name) ||
        !JoinPath(waiting, record->folder, step->waiting) || WorkStepOf(record, step->waiting) < 0) {
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
    bool keptPath = work >= 0 && JoinPath(kept, record->folder, step->kept);
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

// After a finished commit: a kept old file goes where its name holds a file this run made (or
// still the old file, of which it is a second name); where the name holds something else, the old
// file stays for the player, and so does whatever else someone put at the kept name.
static void DropKeptFile(Record* record, const Step* step)
{
    char target[PATH_BUFFER_SIZE];
    char kept[PATH_BUFFER_SIZE];
    int work = WorkStepOf(record, step->kept);
    if (work < 0 || !JoinPath(kept, record->folder, step->kept) || !JoinPath(target, record->folder, step->name))
        return;
    int keptState = LookAt(kept, &step->old, NULL);
    if (keptState == ITEM_NONE)
        return;
    FileIdentity atName;
    int state = LookAt(target, &step->old, &atName);
    if (keptState == ITEM_MATCH && (state == ITEM_MATCH || (state == ITEM_OTHER && IsMadeByRecord(record, &atName))))
        NoteOutcome(record, DeleteIfSame(kept, &step->old, false), step->name, work);
    else if (keptState != ITEM_UNKNOWN)
        record->keptForPlayer[work] = true;
    else
        NoteOutcome(record, ACT_HELD, step->name);
}

// Calls act on each name in the folder but "." and ".."; false when the listing fails or act does.
static bool ForEachName(const char* folder, bool (*act)(const char* folder, const WIN32_FIND_DATAA* found))
{
    char pattern[PATH_BUFFER_SIZE];
    if (!JoinPath(pattern, folder, "*"))
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
    return JoinPath(path, folder, found->cFileName) && DeleteIfSame(path, NULL, false) == ACT_DONE;
}

// Removes the mark and then the folder, once nothing but the mark is left. Where a file in it is
// still held (a delete that waits for its last handle), the mark stays for a later sweep.
static bool RemoveMarkedFolder(const char* path)
{
    char mark[PATH_BUFFER_SIZE];
    if (!ForEachName(path, IsMarkOnly) || !JoinPath(mark, path, UPDATE_MARK_NAME))
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
        if (step->kind != JOURNAL_WORK_FOLDER || !record->ours[i] || !JoinPath(path, record->folder, step->name))
            continue;
        char mark[PATH_BUFFER_SIZE];
        if (record->keptForPlayer[i] && JoinPath(mark, path, UPDATE_MARK_NAME))
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
        if (step->kind != JOURNAL_FOLDER || !JoinPath(path, record->folder, step->name))
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
    if (WorkStepOf(record, step->waiting) >= 0 && JoinPath(path, record->folder, step->waiting) && !DeleteFileA(path)) {
        DWORD error = GetLastError();
        if (!IsGoneError(error))
            NoteOutcome(record, IsHeldError(error) ? ACT_HELD : ACT_FAILED, step->name);
    }
    int work = step->kind == JOURNAL_REPLACE ? WorkStepOf(record, step->kept) : -1;
    if (work < 0 || !JoinPath(path, record->folder, step->kept))
        return;
    HANDLE kept = OpenItem(path, DELETE);
    if (kept == INVALID_HANDLE_VALUE) {
        if (!IsGoneError(GetLastError()))
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
        if (!deleted && !DeleteFileA(path) && !IsGoneError(GetLastError()))
            NoteOutcome(record, ACT_HELD, step->name);
        return;
    }
    CloseHandle(kept);
    // The only name left of the old file, or something someone put there: it stays, for the player.
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
        if (IsGoneError(error))
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
    if (!DeleteFileA(path) && !IsGoneError(GetLastError()))
        return SetRecordAside(folder);
    return 0;
}

bool SweepLeftoverFolder(const char* folder, const char* relative)
{
    char work[PATH_BUFFER_SIZE];
    const char* leaf = relative + FolderPartLength(relative);
    if (!IsUpdateTemporaryName(leaf, strlen(leaf)) || !JoinPath(work, folder, relative) ||
        PassesThroughLink(folder, relative, true) || !HasMark(work))
        return false;
    // Looked at whole before anything goes, so that a folder that is not all ours loses nothing.
    return ForEachName(work, IsWaitingFile) && ForEachName(work, DeleteWaitingFile) && RemoveMarkedFolder(work);
}

int RecoverInterruptedUpdate(const char* folder)
{
    return FinishRecord(folder);
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
        bool done = step->hasMade && JoinPath(target, record->folder, step->name) &&
                    JoinPath(waiting, record->folder, step->waiting);
        if (done && step->how == 'M')
            done = JoinPath(kept, record->folder, step->kept) && MoveHeld(target, kept, 0, &error);
        if (done) {
            done = MoveHeld(waiting, target, step->how == 'L' ? MOVEFILE_REPLACE_EXISTING : 0, &error);
            // A name the package carries twice holds this run's earlier file by now: replaced.
            if (!done && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) && IsNamedEarlier(record, i))
                done = MoveHeld(waiting, target, MOVEFILE_REPLACE_EXISTING, &error);
        }
        if (!done) {
            if (IsHeldError(error))
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
        if (step->kind == JOURNAL_REPLACE && JoinPath(kept, record->folder, step->kept) && !DeleteFileA(kept) &&
            !IsGoneError(GetLastError()))
            NoteOutcome(record, DeleteIfSame(kept, &step->old, false), step->name);
    }
    DropWorkFolders(record);
}

int CommitJournal(void)
{
    if (!IsJournalOpen())
        return TRANSACTION_FAILED;
    lastDrain = GetTickCount();
    busyName[0] = '\0';
    DWORD size = 0;
    char* text = ReadBackJournal(&size);
    Record record;
    memset(&record, 0, sizeof record);
    record.folder = GetJournalFolder();
    bool committed = false;
    bool abandoned = false;
    record.steps = text != NULL ? ReadSteps(text, size, &record.count, &committed, &abandoned) : NULL;
    // Until this line is on the disk, the pass is undone rather than finished.
    bool started = record.steps != NULL && RecordStep(JOURNAL_COMMIT, NULL, NULL, NULL) == 0 && FlushJournal();
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
            if (JournalPath(GetJournalFolder(), path))
                DeleteFileA(path);
        } else {
            result = busyName[0] != '\0' ? TRANSACTION_IN_USE : TRANSACTION_FAILED;
            char name[PATH_BUFFER_SIZE];
            CopyText(name, busyName, PATH_BUFFER_SIZE);
            RecordStep(JOURNAL_UNDO, NULL, NULL, NULL);
            CloseJournal();
            FinishRecord(GetJournalFolder());
            CopyText(busyName, name, PATH_BUFFER_SIZE);
        }
        free(record.ours);
        free(record.keptForPlayer);
    } else {
        result = TRANSACTION_FAILED;
        CloseJournal();
        FinishRecord(GetJournalFolder());
    }
    free(record.steps);
    free(text);
    ReleaseHeldQuit();
    return result;
}

int RollBackJournal(void)
{
    if (!IsJournalOpen())
        return 0;
    CloseJournal();
    return FinishRecord(GetJournalFolder());
}
