// The record of one full pass in the game folder, so that a pass cut off anywhere (a failure, a
// quit message, a killed process, a lost machine) can be undone: each step is written down before
// it is taken, every undo step is harmless when its step never happened, and the record is read
// back from the disk for undoing, by this run or by the next one.
//
// Steps, one line each, names relative to the game folder (code page 932, tab-separated):
//   D folder               a folder is about to be made
//   N name temporary       a new file is written under a temporary name, then takes its name
//   R name temporary aside an existing file is moved aside, then the new one takes its name
//   X                      the step before it never reached its name (only its temporary is left)
//   C                      every entry is in place: the asides go
#ifndef UPDATER_EXTRACTION_UPDATE_JOURNAL_H
#define UPDATER_EXTRACTION_UPDATE_JOURNAL_H

enum JournalStep {
    JOURNAL_FOLDER = 'D',
    JOURNAL_NEW = 'N',
    JOURNAL_REPLACE = 'R',
    JOURNAL_UNTOUCHED = 'X',
    JOURNAL_COMMIT = 'C',
};

// path = the folder, name's own folder part, and leaf: the temporary and aside files live beside
// the file they stand for. False when that does not fit a path.
bool ComposeSiblingPath(const char* folder, const char* name, const char* leaf, char* path);

// Finishes what an earlier run left in the folder: its commit when it got that far, else its
// undoing. 0 when nothing of it is left (or there was nothing), 1 when something could not be
// done; the record then stays for the next run.
int RecoverInterruptedUpdate(const char* folder);

// Starts the record of a pass into folder. 0 on success.
int BeginJournal(const char* folder);
bool IsJournalOpen(void);

// Writes one step down before it is taken; the names are relative to the folder, unused ones
// NULL. 0 when the step is on record.
int RecordStep(int step, const char* name, const char* temporary, const char* aside);

// Every entry is in place: the record says so, the moved-aside files go (a file a scanner holds
// is retried briefly; what still stays is finished by the next run). 0 on success.
int CommitJournal(void);

// Undoes the pass on record: made files and folders go, moved files come back. Nothing when no
// pass is open. 0 when the folder is as it was.
int RollBackJournal(void);

#endif
