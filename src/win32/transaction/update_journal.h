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
// The record itself, its lines and their form: transaction/update_record.h.
#ifndef UPDATER_TRANSACTION_UPDATE_JOURNAL_H
#define UPDATER_TRANSACTION_UPDATE_JOURNAL_H

#include <stdint.h>
#include <windows.h>

#include "transaction/file_identity.h"
#include "transaction/update_record.h"

// Finishes what an earlier run left in the folder: its commit when it got that far, else its
// undoing. A record that cannot be read is set aside (UPDATE_JOURNAL_ASIDE_NAME) and never acted
// on. 0 when nothing of it is left to do, or there was nothing; TRANSACTION_IN_USE when a file of
// it is in use (the record stays, and a retry can finish it); TRANSACTION_BUSY when another
// updater holds the record; TRANSACTION_FAILED for anything else.
int RecoverInterruptedUpdate(const char* folder);

// The name the last TRANSACTION_IN_USE was about, relative to the game folder.
const char* GetBusyName(void);

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
