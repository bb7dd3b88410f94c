// Links and other reparse points on the way to a file: the updater writes through a folder link
// as into any folder (a player who moved the game's data to another drive keeps a working
// update), but never deletes through one, since it runs elevated and a link may lead anywhere.
#ifndef UPDATER_BASE_REPARSE_POINTS_H
#define UPDATER_BASE_REPARSE_POINTS_H

#include <windows.h>

// True when a folder component of relative (taken below folder) is a reparse point, or one
// cannot be looked at; with includeLast the last component counts too. Only the part of the
// path that relative names is looked at: the folder itself may well be reached through a link.
bool PassesThroughLink(const char* folder, const char* relative, bool includeLast);

// True when the item at path, whose attributes were just read, counts as a link: a folder that is
// any reparse point (nothing is deleted through one), or a file whose reparse point leads
// somewhere else (IsLinkReparseTag). A file that a system feature keeps as a reparse point in
// place (compressed by compact.exe, a cloud placeholder) is a plain file for the update: a player
// who compressed the game, or keeps it in a synced folder, can still update it.
bool IsLinkItem(const char* path, DWORD attributes);

#endif
