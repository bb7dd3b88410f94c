// The one way the updater opens its extracted data files: a failed open offers Retry until
// it works, and Cancel ends the process with -1. The existence test never shows anything.
#ifndef UPDATER_BASE_DATA_FILE_H
#define UPDATER_BASE_DATA_FILE_H

#include <stdio.h>

// Never returns NULL: retries with a notice, or ends the process.
FILE* OpenDataFile(const char* name, const char* mode);
// True when the name opens for binary reading (the stream is closed again at once).
bool DataFileExists(const char* name);

#endif
