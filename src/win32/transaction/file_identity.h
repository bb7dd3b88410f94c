// What a file or folder is, whatever its name, and acting on one only while it is still that: the
// look and the act go through one handle where the system allows, so nothing that took the name in
// between is hit. A link at a name is opened as the link, never followed.
#ifndef UPDATER_TRANSACTION_FILE_IDENTITY_H
#define UPDATER_TRANSACTION_FILE_IDENTITY_H

#include <stdint.h>
#include <windows.h>

// A virus scanner, an indexer or a sync client may hold a file a moment after it was written or
// looked at, without letting it be renamed or deleted: such a step is tried again a few times.
#define HELD_FILE_RETRIES 5
#define HELD_FILE_WAIT_MS 100

// Two names of one file share it; a file written again, or another file put at the name, does not.
struct FileIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    uint64_t size;  // files only
    uint64_t time;  // last-write time, files only
};

// What stands at a name, against the identities a step knows.
enum FoundItem {
    ITEM_NONE,     // nothing
    ITEM_OTHER,    // something else: not ours to touch
    ITEM_MATCH,    // the identity asked about
    ITEM_UNKNOWN,  // something that cannot be looked at now (held)
};

// Outcomes of acting on an identified item.
enum ActOutcome {
    ACT_DONE,
    ACT_GONE,      // nothing there
    ACT_NOT_OURS,  // something else: left alone
    ACT_HELD,      // it is ours, but in use
    ACT_FAILED,
};

bool IsGoneError(DWORD error);
// A sharing or lock violation, or access refused while another holds the file.
bool IsHeldError(DWORD error);

bool ReadHandleIdentity(HANDLE item, FileIdentity* identity);
// The identity of the item at path; false when none can be read.
bool ReadIdentity(const char* path, FileIdentity* identity);
bool SameItem(const FileIdentity* a, const FileIdentity* b);
// The item itself, with access besides reading its attributes, every sharing allowed.
HANDLE OpenItem(const char* path, DWORD access);

// A FoundItem for what stands at path against expected (NULL: anything is ITEM_OTHER); the
// identity found goes to found when it is not NULL. A held item is waited for briefly.
int LookAt(const char* path, const FileIdentity* expected, FileIdentity* found);

// Renames or deletes the open item (Vista and later); false where the system lacks the call, for
// a rename when only a full path with a drive can be named, or when the call fails.
bool RenameThroughHandle(HANDLE item, const char* destinationPath, bool replace);
bool DeleteThroughHandle(HANDLE item);

// An ActOutcome: deletes the item at path (a file, or an empty folder) when it is still the
// expected one (NULL: whatever file is there).
int DeleteIfSame(const char* path, const FileIdentity* expected, bool folder);
// An ActOutcome: renames the item at from to to when it is still the expected one.
int MoveIfSame(const char* from, const FileIdentity* expected, const char* to, bool replace);

// MoveFileExA, tried again while the file is held; error gets the last failure.
bool MoveHeld(const char* from, const char* to, DWORD flags, DWORD* error);

#endif
