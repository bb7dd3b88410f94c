// Finding and confirming the installed product's folder from the registry; the caller
// falls back to the manual choice (game/manual_choice.h) on LOCATE_NOT_FOUND.
#ifndef UPDATER_GAME_TARGET_LOCATION_H
#define UPDATER_GAME_TARGET_LOCATION_H

#define LOCATE_FOUND 0
#define LOCATE_NOT_FOUND (-1)  // the caller may offer the manual choice
#define LOCATE_STOP (-2)       // refused by the version gate, or declined

// path: 260 bytes, written only on LOCATE_FOUND.
int LocateTargetFolder(char* path);

#endif
