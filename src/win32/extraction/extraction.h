// Copies package entries out of the updater's own file: the setup pass into the work folder,
// the full pass into the target folder with the progress window.
#ifndef UPDATER_EXTRACTION_EXTRACTION_H
#define UPDATER_EXTRACTION_EXTRACTION_H

#include <stdio.h>
#include <windows.h>

#include "package/byte_stream.h"

#define EXTRACT_FULL_PASS 0
#define EXTRACT_SETUP_PASS 1

// Opens the package behind the executable image: bytes reads it, stopping at the trailer, from
// the first entry on. NULL when the file cannot be opened or holds no package.
FILE* OpenPackage(ByteStream* bytes, int* packageSize);
// Tests read a package from a file of their own; NULL or "" goes back to the module's own file.
void SetPackageFilePath(const char* path);
// Returns only on success; any failure shows the read-failure notice, removes the work folder
// and ends the process with -1.
void ExtractPackage(const char* destinationFolder, int mode);

#endif
