// Copies package entries out of the updater's own file: the setup pass into the work folder,
// the full pass into the target folder with the progress window.
#ifndef UPDATER_PACKAGE_EXTRACTION_H
#define UPDATER_PACKAGE_EXTRACTION_H

#include <stdio.h>
#include <windows.h>

#define EXTRACT_FULL_PASS 0
#define EXTRACT_SETUP_PASS 1

FILE* OpenPackage(void);
// Tests read a package from a file of their own; NULL or "" goes back to the module's own file.
void SetPackageFilePath(const char* path);
// Returns only on success; any failure shows the read-failure notice, removes the work folder
// and ends the process with -1.
void ExtractPackage(const char* destinationFolder, int mode);
bool IsSetupFile(const char* name);
int InflateEntry(FILE* stream, int originalSize, unsigned compressedSize, const char* path, HWND window, int consumed);

#endif
