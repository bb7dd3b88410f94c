// Whether an entry's name fits under the folders players install games in: the updater writes a
// path of at most 259 bytes, the install folder's path included, and needs room in each folder for
// the working folder a file waits in.
#ifndef MKUPDATE_NAME_ROOM_H
#define MKUPDATE_NAME_ROOM_H

#include <filesystem>
#include <string>
#include <vector>

// The shortest install folder a player plausibly has: a one-letter folder at a drive's root,
// "C:\G" (4 bytes). No installer proposes a drive's root itself, and the updater finds the game
// by a folder of its own; a name that does not fit under this fits under none.
constexpr int kShortestInstallFolder = 4;

// An ordinary install folder: "C:\Program Files (x86)\" (23 bytes), then a company and a game
// folder of up to 14 Japanese characters each (28 bytes each in code page 932) and the backslash
// between them: 23 + 28 + 1 + 28 = 80. Installers propose such a folder and most players keep it,
// so a name that leaves less room fails for many of them.
constexpr int kOrdinaryInstallFolder = 80;

enum class NameRoom {
    kFits,   // fits under an ordinary install folder
    kTight,  // fits only under a folder shorter than an ordinary one: a warning
    kNone,   // fits under no plausible folder: an error
};

// The verdict on a code page 932 entry name (a folder's ends in a backslash or `folder` is set),
// with a sentence saying why and what to do when it is not kFits.
NameRoom CheckNameRoom(const std::string& cp932, bool folder, std::string& why);

// The same for a reader of a built update: false with the reason in `problem` when the name fits
// no install folder; a tight name adds "NAME: why" (for a terminal) to `warnings`.
bool JudgeNameRoom(const std::string& cp932, bool folder, std::string& problem, std::vector<std::string>& warnings);

// One finding of CheckTreeNameRoom.
struct NameRoomNote {
    std::string path;  // the file or folder, for a terminal
    bool error = false;
    std::string why;
};

// Every file and folder under an update folder (less what build leaves out by default, links not
// entered) whose name does not fit an ordinary install folder. Names without a code page 932
// form, and folders that cannot be read, are left to build to report.
std::vector<NameRoomNote> CheckTreeNameRoom(const std::filesystem::path& folder);

#endif
