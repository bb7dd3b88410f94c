// Rules for the names that package entries carry, as code page 932 text: which entries are
// setup files, how the setup pass treats each entry, and which names may be written at all.
#ifndef UPDATER_PACKAGE_ENTRY_NAMES_H
#define UPDATER_PACKAGE_ENTRY_NAMES_H

#include "package/package_format.h"
#include "text/cp932_text.h"
#include "text/entry_name_rules.h"
#include "text/buffer_sizes.h"


// True when the name contains "insttscr.rct", "install.env" or ".txt", case ignored.
bool IsSetupFileName(const char* name);

enum SetupStep {
    SETUP_SKIP = 0,     // passed over: a top-level folder, or a file that is no setup file
    SETUP_EXTRACT = 1,  // a setup file: extracted into the work folder
    SETUP_END = 2,      // a nested folder: the setup pass ends before it
};
// What the setup pass does with an entry. A folder entry without any separator is passed over.
int SetupPassStep(const PackageEntry* entry);

// True when the entry's name keeps every rule of CheckEntryName (nameFault of ReadEntryHeader:
// it stays inside its folder and Windows writes it under exactly that name) and it fits under the
// folder as LongestInstallFolder tells.
bool IsSafeEntryName(const char* destinationFolder, const EntryHeader* header);

// The name as Windows compares it: folded as FoldCp932Name folds it (case, and the duplicate
// encodings of one character), a folder's trailing backslash left out, so "Data\\" and "data"
// give one key. The key holds keySize - 1 bytes at most: the builder sizes it for names of any
// length, since a cut key would make two long names one.
void EntryNameKey(const char* name, bool folder, char* key, size_t keySize);

// The longest install folder (in bytes, without a trailing backslash) under which the updater can
// write the entry: "%s\\%s" of the folder and the name keeps to 259 bytes, and the folder that
// receives files (a file's own folder; for a folder entry the folder itself, which its files will
// need) leaves UPDATE_RECEIVING_ROOM bytes, since every file waits in a working folder there before
// it takes its place. Below 0 when no folder would do.
int LongestInstallFolder(const char* name, bool folder);

#endif
