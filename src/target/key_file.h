// The key-file test shared by the automatic location and the manual choice.
#ifndef UPDATER_TARGET_KEY_FILE_H
#define UPDATER_TARGET_KEY_FILE_H

// True when KEYFILE is not set, or when "<folder>\<KEYFILE>" fits 259 bytes and opens.
bool KeyFileFound(const char* folder);

#endif
