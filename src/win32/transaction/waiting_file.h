// Where an extracted file is written. In the setup pass (no update record open) a file is written
// under its own name into the new work folder. In the full pass every file is written in a
// working folder of the updater's own inside its destination's folder (so on its volume, even
// behind a folder link) and waits there for the commit (extraction/update_journal.h); an existing
// file it replaces gets a second name there meanwhile, in its place and untouched. Each step is
// on record before it is taken, each finished file with its identity.
#ifndef UPDATER_TRANSACTION_WAITING_FILE_H
#define UPDATER_TRANSACTION_WAITING_FILE_H

#include <stdint.h>
#include <windows.h>

#include "transaction/file_identity.h"

// The handle to write the entry's contents to, from its start; INVALID_HANDLE_VALUE when there
// is none (a read-only file, a link or a folder in the way, or nothing could be made). old is the
// identity the checks found at the name, NULL where they found nothing.
HANDLE OpenExtractedFile(const char* folder, const char* name, const FileIdentity* old);

// After the last write: with result 0 the file gets its last-write time and waits, on record, for
// the commit. 0 on success; on failure what was written is left to the undoing (full pass) or
// removed.
int FinishExtractedFile(const char* folder, const char* name, int result, uint64_t lastWriteTime);

// Closes and removes a file left half-written (a failure, or an exit in the middle of a file),
// and forgets the working folder of the pass.
void DiscardExtractedFile(void);

// A folder entry: made at once (a new folder changes no name the game had), on record first and
// with its identity once made, so that the undoing removes it again and nothing else at its name.
// 0 on success.
int MakePackageFolder(const char* folder, const char* name);

#endif
