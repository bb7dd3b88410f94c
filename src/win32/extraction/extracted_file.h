// Where an extracted file is written, and how it takes its place: a destination that does
// not exist is created exclusively and written in place; an existing one is written into a file of
// a small staging folder inside its own folder and replaces the old file whole, keeping its hidden,
// system, archive and not-indexed attributes. Any failure removes what was written and leaves an
// existing file as it was.
#ifndef UPDATER_EXTRACTION_EXTRACTED_FILE_H
#define UPDATER_EXTRACTION_EXTRACTED_FILE_H

#include <stdint.h>
#include <windows.h>

// The handle to write the file's contents to, from its start; INVALID_HANDLE_VALUE when there
// is none (a read-only file or a folder in the way, or nothing could be created).
HANDLE OpenExtractedFile(const char* path);

// After the last write: with result 0 the file gets its last-write time and takes its place;
// with any other result, or when that fails, what was written goes again. 0 on success.
int FinishExtractedFile(const char* path, int result, uint64_t lastWriteTime);

// At the end of a pass (and at exit): the staging folder goes.
void EndExtractedFiles(void);

#endif
