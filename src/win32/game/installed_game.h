// The two checks a folder must pass to be taken as the installed game, whether it was found
// in the registry or chosen by hand: the key file is there, and the installed version may take
// this update.
#ifndef UPDATER_GAME_INSTALLED_GAME_H
#define UPDATER_GAME_INSTALLED_GAME_H

// True when KEYFILE is not set, or when "<folder>\<KEYFILE>" fits 259 bytes and opens.
bool KeyFileFound(const char* folder);

// True when the installed version may take this update (a notice otherwise).
bool CheckVersionGate(void);

#endif
