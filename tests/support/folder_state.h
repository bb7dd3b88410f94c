// What a folder holds, as a player's game folder must keep it through a failed update: every
// name below it, and of each file its bytes, last-write time and attributes. And folder links,
// which Windows tests make where the system lets them.
#ifndef UPDATER_TESTS_SUPPORT_FOLDER_STATE_H
#define UPDATER_TESTS_SUPPORT_FOLDER_STATE_H

#include <windows.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

struct ItemState {
    bool folder = false;
    bool link = false;  // a reparse point: looked at, never entered
    std::string bytes;
    uint64_t lastWriteTime = 0;
    DWORD attributes = 0;
    bool operator==(const ItemState& other) const;
};
void PrintTo(const ItemState& item, std::ostream* out);

// Keyed by the path below the folder ("data\\a.dat").
using FolderState = std::map<std::string, ItemState>;
FolderState ReadFolderState(const std::string& folder);

// Makes link a symbolic link to the folder target: CreateSymbolicLinkA where the system makes
// one, else (Wine, whose call makes nothing) a Unix symbolic link, which Wine shows as a
// reparse point. False when neither works; the caller skips.
bool MakeFolderLink(const std::string& link, const std::string& target);

#endif
