// The folder text of the manual choice: the proposal shown in the SETUP dialog and the
// turning of what the user typed into a local absolute folder path. Pure byte work on code page 932
// text, so the rules are tested natively and under Wine alike.
#ifndef UPDATER_TEXT_FOLDER_TEXT_H
#define UPDATER_TEXT_FOLDER_TEXT_H

#include "text/buffer_sizes.h"

#define FOLDER_TEXT_OK 0
#define FOLDER_TEXT_NETWORK 1   // a network path: refused
#define FOLDER_TEXT_TOO_LONG 2  // the additions would pass 259 bytes: refused, never cut

// The settings the folder text depends on, as their accessors return them.
struct FolderTextSettings {
    const char* instFol;  // NULL when INSTFOL is absent
    const char* instTo;
    int instMakeFol;
};

// proposal (PATH_BUFFER_SIZE bytes) = the Windows folder's drive root, "Program Files\",
// INSTFOL and a backslash when set, INSTTO. FOLDER_TEXT_OK or FOLDER_TEXT_TOO_LONG (proposal
// then empty).
int BuildFolderProposal(const char* windowsFolder, const FolderTextSettings* settings, char* proposal);

// Rewrites text (PATH_BUFFER_SIZE bytes, as typed) in place into a local absolute path: slashes
// become backslashes, a network path is refused, one trailing backslash goes, the product
// folder is appended when INSTMAKEFOL asks for it, the Windows folder's drive is put in front of
// a text without one, and a backslash follows the drive's colon. On a refusal text is left as
// it was given.
int NormaliseFolderText(char* text, const char* windowsFolder, const FolderTextSettings* settings);

#endif
