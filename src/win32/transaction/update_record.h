// The record of one full pass in the game folder (UPDATE_JOURNAL_NAME): written as the pass goes,
// read back for its commit, and by a later run to finish what a cut-off run left.
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
#ifndef UPDATER_TRANSACTION_UPDATE_RECORD_H
#define UPDATER_TRANSACTION_UPDATE_RECORD_H

#include <stddef.h>
#include <windows.h>

#include "transaction/file_identity.h"

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

// Outcomes of the commit and of finishing an earlier run, beyond 0 (done).
#define TRANSACTION_FAILED 1  // something could not be done; the folder is as it was before
#define TRANSACTION_IN_USE 2  // a file is in use (GetBusyName names it); nothing was changed
#define TRANSACTION_BUSY 3    // another updater is at work on the folder

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

void CloseJournal(void);
// Forces what the open record holds onto the disk; false when that fails.
bool FlushJournal(void);
// path = the folder's record; false when that does not fit a path.
bool JournalPath(const char* folder, char* path);

// The whole record as written so far, read back through the open record; NULL when it cannot be.
char* ReadBackJournal(DWORD* size);

// Splits the record into its steps (in place); NULL when it is no record of this kind. The last
// line counts only when whole: a record cut off mid-line (a lost machine) ends before it.
Step* ReadSteps(char* text, DWORD size, int* count, bool* committed, bool* abandoned);

// True for a working folder ("data\\~upd12AB.tmp") beside the entry name, or, with waiting, a file
// in one ("data\\~upd12AB.tmp\\1F"): the only places a step may write or delete besides the name.
bool IsWorkPath(const char* name, const char* path, bool waiting);
// 1 to most hexadecimal digits (capitals), the form of a waiting name.
bool IsHexDigits(const char* text, size_t most);

// Sets the folder's record aside under a free name (UPDATE_JOURNAL_ASIDE_NAME, then numbered): it
// is never acted on, never blocks an update, and stays for whoever wants to look at it. 0 when
// done; TRANSACTION_BUSY when another holds it.
int SetRecordAside(const char* folder);

#endif
