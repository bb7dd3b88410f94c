// What stands in the folder an entry goes to, from one listing of that folder rather than a
// lookup per name: a name that is not there costs a look at every name of the folder in some file
// systems (Wine's, on a case-sensitive Unix one), and an update may bring thousands of new files
// into one folder. One folder is held at a time: entries of one folder come together.
#ifndef UPDATER_TRANSACTION_DESTINATION_INDEX_H
#define UPDATER_TRANSACTION_DESTINATION_INDEX_H

#include <windows.h>

// Forgets the listing held (at the start and end of a pass, and after the folder changed).
void ForgetDestinations(void);

// The attributes of what stands under the entry name (relative to folder; a folder entry's
// trailing backslash is left out), as Windows compares names; INVALID_FILE_ATTRIBUTES when
// nothing does. The name's folder is listed when it is not the one held.
DWORD FindDestination(const char* folder, const char* name);

// The pass put a file under the name: the held listing counts it from now on.
void NoteDestination(const char* name, DWORD attributes);

// While searching (the checks before the first write), the working folders the listings meet are
// kept by their paths relative to the game folder ("data\\~upd12AB.tmp"): before this pass wrote
// anything, only an earlier run can have left them (one whose record was lost, or a build that
// kept none).
void SearchLeftoverFolders(bool on);
void ForgetLeftoverFolders(void);
int CountLeftoverFolders(void);
const char* GetLeftoverFolder(int index);

#endif
