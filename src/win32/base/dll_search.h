// Where the updater's DLLs come from. It runs elevated from wherever it was downloaded, so
// no DLL lying beside it (or in the current folder) may ever be loaded in place of a system one.
#ifndef UPDATER_BASE_DLL_SEARCH_H
#define UPDATER_BASE_DLL_SEARCH_H

#include <windows.h>

// Called first thing, before any window: every later load searches the system folder only.
// Systems without SetDefaultDllDirectories take RestrictDllSearchByPreloading instead.
void RestrictDllSearch(void);

// For systems without SetDefaultDllDirectories (XP, Vista, 7 without its update): the current
// folder leaves the search, and the system DLLs that would later be looked for beside the
// program are loaded now from the system folder, so a later load by name finds them loaded.
void RestrictDllSearchByPreloading(void);

// A DLL of the system folder by its full path (its own dependencies are looked for in the
// system folder first); NULL when it is not there. Never a bare name.
HMODULE LoadSystemLibrary(const char* name);

#endif
