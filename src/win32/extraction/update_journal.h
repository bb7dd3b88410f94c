// The record of one full pass in the game folder, and the pass's commit and undoing. New files
// wait in working folders of the updater's own until every entry is written; only then does the
// commit give them their names, by renames alone, so that a pass cut off before it leaves every
// name the game had as it was. A pass cut off anywhere is undone, or its commit finished, by this
// run or the next one, from the record read back from the disk.
//
// Every file and folder the pass makes is on record with its identity (volume, file index, and
// for files the size and last-write time), and so is every old file it keeps aside. Undoing and
// finishing act only on what is still that file: whatever else stands at a recorded name (a game
// reinstalled after a kill, a file made at that name since, a record someone planted) stays as
// it is, and a kept old file whose name holds something else stays in its working folder for the
// player, the folder then no longer marked as the updater's.
//
// Lines are written as steps are taken and not flushed one by one: before the commit no name of
// the game's has changed, so a record that lost its last lines leaves only working folders,
// which carry the updater's mark and go with a later update. The commit's line is flushed before
// the first rename.
//
// Steps, one line each, paths relative to the game folder (code page 932, tab-separated fields,
// identities as volume, index, size and time in hexadecimal):
//   S work                      a working folder is about to be made beside files of the package
//   T volume index              it was made, and its mark is in it
//   D folder                    a folder of the package is about to be made
//   E volume index              it was made
//   N name waiting              a new file is about to be written in a working folder
//   R name waiting kept OLD     a replacing one, the old file to be kept under the kept name
//   W NEW how                   the waiting file is complete; how: "N" new, "L" the old file has
//                               its second name already, "M" it moves aside at the commit
//   C                           the commit begins: waiting files take their names
//   U                           the commit is abandoned: this run undoes it
#ifndef UPDATER_EXTRACTION_UPDATE_JOURNAL_H
#define UPDATER_EXTRACTION_UPDATE_JOURNAL_H

#include <stdint.h>
#include <windows.h>

// A virus scanner, an indexer or a sync client may hold a file a moment after it was written or
// looked at, without letting it be renamed or deleted: such a step is tried again a few times.
#define HELD_FILE_RETRIES 5
#define HELD_FILE_WAIT_MS 100

enum JournalStep {
    JOURNAL_WORK_FOLDER = 'S',
    JOURNAL_WORK_MADE = 'T',
    JOURNAL_FOLDER = 'D',
    JOURNAL_FOLDER_MADE = 'E',
    JOURNAL_NEW = 'N',
    JOURNAL_REPLACE = 'R',
    JOURNAL_WRITTEN = 'W',
    JOURNAL_COMMIT = 'C',
    JOURNAL_UNDO = 'U',
};

// What a file or folder is, whatever its name: two names of one file share it; a file written
// again, or another file put at the name, does not.
struct FileIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    uint64_t size;  // files only
    uint64_t time;  // last-write time, files only
};

// Outcomes of the commit and of finishing an earlier run, beyond 0 (done).
#define TRANSACTION_FAILED 1  // something could not be done; the folder is as it was before
#define TRANSACTION_IN_USE 2  // a file is in use (GetBusyName names it); nothing was changed
#define TRANSACTION_BUSY 3    // another updater is at work on the folder

// The identity of the item at path (not followed when it is a link); false when none can be read.
bool ReadIdentity(const char* path, FileIdentity* identity);
bool ReadHandleIdentity(HANDLE item, FileIdentity* identity);

// path = the folder and a path below it; false when that does not fit a path.
bool PathBelow(const char* folder, const char* relative, char* path);

// True for a working folder ("data\\~upd12AB.tmp") beside the entry name, or, with waiting, a file
// in one ("data\\~upd12AB.tmp\\1F"): the only places a step may write or delete besides the name.
bool IsWorkPath(const char* name, const char* path, bool waiting);

// Finishes what an earlier run left in the folder: its commit when it got that far, else its
// undoing. A record that cannot be read is set aside (UPDATE_JOURNAL_ASIDE_NAME) and never acted
// on. 0 when nothing of it is left to do, or there was nothing; TRANSACTION_IN_USE when a file of
// it is in use (the record stays, and a retry can finish it); TRANSACTION_BUSY when another
// updater holds the record; TRANSACTION_FAILED for anything else.
int RecoverInterruptedUpdate(const char* folder);

// The name the last TRANSACTION_IN_USE was about, relative to the game folder.
const char* GetBusyName(void);

// Starts the record of a pass into folder. 0 on success; TRANSACTION_BUSY when a record is there.
int BeginJournal(const char* folder);
bool IsJournalOpen(void);
// The folder of the open record.
const char* GetJournalFolder(void);

// Writes one step down; the names are relative to the folder, unused ones NULL. 0 when the step
// is on record.
int RecordStep(int step, const char* name, const char* waiting, const char* kept);
// The same with an identity: the old file's for JOURNAL_REPLACE, the new one's for
// JOURNAL_WRITTEN (how is 'N', 'L' or 'M'), a made folder's for JOURNAL_WORK_MADE and
// JOURNAL_FOLDER_MADE.
int RecordIdentity(int step, const char* name, const char* waiting, const char* kept, const FileIdentity* identity,
                   char how);

// Every entry is written: the waiting files take their names, then the kept old files and the
// working folders go. 0 when the update is in place; otherwise it is undone before return (a
// file in use: TRANSACTION_IN_USE with GetBusyName; else TRANSACTION_FAILED).
int CommitJournal(void);

// Undoes the pass on record. Nothing when no pass is open. 0 when the folder is as it was.
int RollBackJournal(void);

// Removes a working folder an earlier run left without a record (relative to folder): only one
// that carries the updater's mark and holds nothing but waiting files of its own form, reached
// through no link. True when it is gone.
bool SweepLeftoverFolder(const char* folder, const char* relative);

// Makes the mark in a working folder just made (path), so that the folder is known for the
// updater's own; false when it cannot be written.
bool MarkWorkFolder(const char* path);

#endif
