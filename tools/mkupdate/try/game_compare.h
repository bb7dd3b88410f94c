// What `mkupdate try` says of the game folder after the update: every file against the new
// version (NEW_DIR, as build would pack it) and the old one that was installed (OLD_DIR).
#ifndef MKUPDATE_GAME_COMPARE_H
#define MKUPDATE_GAME_COMPARE_H

#include <filesystem>
#include <string>
#include <vector>

struct GameDifference {
    std::string name;  // code page 932, backslashes
    std::string why;   // UTF-8
};

struct GameComparison {
    int same = 0;                         // files whose bytes are NEW_DIR's
    std::vector<GameDifference> differs;  // bytes other than NEW_DIR's
    std::vector<GameDifference> missing;  // NEW_DIR has them, the game folder does not
    std::vector<GameDifference> extra;    // the game folder has them, neither NEW_DIR nor OLD_DIR
    std::vector<std::string> kept;        // OLD_DIR's files NEW_DIR lacks that the update left: player files
    std::vector<std::string> removed;     // OLD_DIR's files NEW_DIR lacks that the update removed
    std::vector<std::string> setupLeft;   // the update's own setup files left in the game folder

    bool Differs() const { return !differs.empty() || !missing.empty() || !extra.empty(); }
};

// `expect`: NEW_DIR, read as build reads an update folder (its default excludes and ignore file);
// its setup files (install.env, the title picture) are no game files. False with a message when
// a folder cannot be read.
bool CompareGameFolder(const std::filesystem::path& game, const std::filesystem::path& old,
                       const std::filesystem::path& expect, GameComparison& comparison, std::string& error);

// Without NEW_DIR: what the update changed against OLD_DIR.
struct GameChanges {
    std::vector<std::string> added, replaced, removed;
    int unchanged = 0;
};
bool CompareWithOld(const std::filesystem::path& game, const std::filesystem::path& old, GameChanges& changes,
                    std::string& error);

#endif
