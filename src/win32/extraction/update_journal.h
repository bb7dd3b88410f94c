// The record of one full pass in the game folder, so that a pass cut off anywhere (a failure, a
// quit message, a killed process) can be undone: each step is written down before it is taken,
// every undo step is harmless when its step never happened, and the record is read back from the
// disk for undoing, by this run or by the next one. Lines are not flushed one by one (a disk
// write per file): a killed process loses nothing the system has accepted, but a machine that
// loses power may lose the last lines while their steps reached the disk.
//
// Steps, one line each, paths relative to the game folder (code page 932, tab-separated):
//   D folder                a folder of the package is about to be made
//   S work                  a working folder is about to be made beside files of the package
//   N name waiting          a new file is written in a working folder, then takes its name
//   R name waiting aside    an existing file is kept in a working folder under a second name (or
//                           moved there), then the new one takes its name
//   X                       the step before it never reached its name (only its waiting file is left)
//   C                       every entry is in place: the kept old files and working folders go
#ifndef UPDATER_EXTRACTION_UPDATE_JOURNAL_H
#define UPDATER_EXTRACTION_UPDATE_JOURNAL_H

// A virus scanner, an indexer or a sync client may hold a file a moment after it was written or
// looked at, without letting it be renamed or deleted: such a step is tried again a few times.
#define HELD_FILE_RETRIES 5
#define HELD_FILE_WAIT_MS 100

enum JournalStep {
    JOURNAL_FOLDER = 'D',
    JOURNAL_WORK_FOLDER = 'S',
    JOURNAL_NEW = 'N',
    JOURNAL_REPLACE = 'R',
    JOURNAL_UNTOUCHED = 'X',
    JOURNAL_COMMIT = 'C',
};

// path = the folder and a path below it; false when that does not fit a path.
bool PathBelow(const char* folder, const char* relative, char* path);

// True for a working folder ("data\\~upd12AB.tmp") beside the entry name, or, with waiting, a file
// in one ("data\\~upd12AB.tmp\\1F"): the only places a step may write or delete besides the name.
bool IsWorkPath(const char* name, const char* path, bool waiting);

// Finishes what an earlier run left in the folder: its commit when it got that far, else its
// undoing. 0 when nothing of it is left (or there was nothing), 1 when something could not be
// done; the record then stays for the next run.
int RecoverInterruptedUpdate(const char* folder);

// Starts the record of a pass into folder. 0 on success.
int BeginJournal(const char* folder);
bool IsJournalOpen(void);
// The folder of the open record.
const char* GetJournalFolder(void);

// Writes one step down before it is taken; the names are relative to the folder, unused ones
// NULL. 0 when the step is on record.
int RecordStep(int step, const char* name, const char* temporary, const char* aside);

// Every entry is in place: the record says so, the moved-aside files go (a file a scanner holds
// is retried briefly; what still stays is finished by the next run). 0 on success.
int CommitJournal(void);

// Undoes the pass on record: made files and folders go, moved files come back. Nothing when no
// pass is open. 0 when the folder is as it was.
int RollBackJournal(void);

// Removes a working folder an earlier run left without a record (relative to folder): its files
// go, and then the folder. A folder that holds anything but plain files (a subfolder, a link, a
// read-only file), or that is reached through a link, is left as it is. True when it is gone.
bool SweepLeftoverFolder(const char* folder, const char* relative);

#endif
