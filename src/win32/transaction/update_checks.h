// The checks before the first write of a full pass: every entry against what the pass will need,
// a name that fits with the working folder beside it (the caller checks the name itself), a
// destination that can be replaced and that no program holds or has loaded, and room on every
// volume written to, a folder link's too. What they find at each file entry's name (the old
// file's identity, or nothing) is kept for the pass, by the entry's place among the file entries.
#ifndef UPDATER_TRANSACTION_UPDATE_CHECKS_H
#define UPDATER_TRANSACTION_UPDATE_CHECKS_H

#include <stdint.h>

#include <windows.h>

#include "package/delta_apply.h"
#include "package/package_format.h"
#include "transaction/file_identity.h"

// Outcomes of the checks, beyond 0.
#define CHECK_REFUSED 1  // damage, or a destination that can never be replaced
#define CHECK_IN_USE 2   // GetCheckedName is in use
#define CHECK_NO_ROOM 3  // GetCheckedName's drive lacks GetShortfall bytes
#define CHECK_NO_BASE 4  // GetCheckedName matches no old version a delta entry of it was made from

// What the checks decided for a delta entry.
#define FOUND_DELTA_APPLY 'A'  // made from the installed file: applied
#define FOUND_DELTA_SKIP 'S'   // made from another old version, or the file is new already: passed over

// Starts the checks of a pass into folder; the working folders earlier runs left beside the
// destinations are noted on the way, for SweepLeftoverFolders.
void BeginChecks(const char* folder);
// 0, or why the entry stops the pass: a file or folder entry, and a delta entry with its header.
int CheckEntry(const PackageEntry* entry);
int CheckDeltaEntry(const PackageEntry* entry, const DeltaHeader* header);
// After the last entry (result: 0, or what stopped the walk): the room on each volume.
int EndChecks(int result);

// The full path the last CHECK_IN_USE or CHECK_NO_ROOM was about, and how many bytes are missing.
const char* GetCheckedName(void);
uint64_t GetShortfall(void);

// What the checks found at the name of the file or delta entry at ordinal (counting both): whether
// a file was there and its identity, and for a delta entry FOUND_DELTA_APPLY or FOUND_DELTA_SKIP
// (else 0). False when they saw no such entry.
bool GetFoundDestination(int ordinal, bool* replacing, const FileIdentity** old, char* delta);

// A source that reads the old file through its handle, for the delta applier; the caller keeps
// context while the source is in use.
struct HandleSource {
    HANDLE file;
};
void OpenOldFileSource(HandleSource* context, HANDLE file, DeltaSource* source);
void ForgetChecks(void);

// Working folders that earlier runs left beside the destinations go once the update is in place:
// a failed pass leaves the folder as it found it, leftovers included.
void SweepLeftoverFolders(void);

#endif
