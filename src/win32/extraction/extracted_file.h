// Where an extracted file is written, and how it takes its place. In the setup pass (no update
// record open) a file is written under its own name into the new work folder. In the full pass
// every file is written in a working folder of the updater's own inside its destination's folder
// (so on its volume, even behind a folder link) and takes its name only when complete; an
// existing file is first kept there under a second name (or moved there where the file system has
// no second names), to be deleted at the commit or brought back by the undoing. Each step is on
// record (extraction/update_journal.h) before it is taken.
#ifndef UPDATER_EXTRACTION_EXTRACTED_FILE_H
#define UPDATER_EXTRACTION_EXTRACTED_FILE_H

#include <stdint.h>
#include <windows.h>

// The handle to write the entry's contents to, from its start; INVALID_HANDLE_VALUE when there
// is none (a read-only file, a link or a folder in the way, or nothing could be made).
HANDLE OpenExtractedFile(const char* folder, const char* name);

// After the last write: with result 0 the file gets its last-write time and takes its name.
// 0 on success; on failure what was written is left to the undoing (full pass) or removed.
int FinishExtractedFile(const char* folder, const char* name, int result, uint64_t lastWriteTime);

// Closes and removes a file left half-written (a failure, or an exit in the middle of a file),
// and forgets the working folder of the pass.
void DiscardExtractedFile(void);

#endif
