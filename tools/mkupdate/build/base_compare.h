// build --base: the new tree weighed against the previous release as it shipped. Files
// are matched by the name Windows gives them on a player's disk (code page 932, case ignored),
// compared by content (sizes first, then bytes, on several threads), and what players already
// have is dropped from the package.
#ifndef MKUPDATE_BASE_COMPARE_H
#define MKUPDATE_BASE_COMPARE_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "build/package_plan.h"

// A file or folder of the previous release.
struct OldEntry {
    std::string name;  // code page 932, backslash separated; folders end in one
    bool folder = false;
    std::filesystem::path path;
    uint64_t size = 0;
};

struct OldTree {
    // By NameKey: on Windows, names that differ in case only are one name.
    std::map<std::string, std::vector<OldEntry>> byName;
    // Paths (UTF-8, from the tree's top) with no code page 932 name: the updater cannot name them.
    std::vector<std::string> unnamed;
};

// Reads the tree under `root`, leaving out what `excludes` match (and earlier updates when
// `skipUpdates`). A name in the form other Shift-JIS tables give (the wave dash U+301C, U+2014,
// U+2212, ...) counts as the code page 932 name Windows writes for the same bytes.
bool ReadOldTree(const std::filesystem::path& root, const std::vector<std::string>& excludes, bool skipUpdates,
                 OldTree& tree, std::string& error);

enum class BaseState { kNew, kChanged, kUnchanged, kCarried };

struct Verdict {
    std::string name;     // as packed (code page 932)
    std::string oldName;  // the previous release's spelling when it differs (case, or the code page 932 form)
    bool folder = false;
    BaseState state = BaseState::kNew;
    uint64_t size = 0;
};

struct BaseOptions {
    int jobs = 1;
    bool progress = false;            // a progress line while files are compared
    std::vector<std::string> carried;  // names packed whatever the previous release holds
};

struct BaseResult {
    std::vector<Verdict> verdicts;        // every entry of the new tree, packed or not
    std::vector<OldEntry> missingFiles;   // in the previous release only, by name
    std::vector<OldEntry> missingFolders;
    std::vector<std::string> unnamed;     // see OldTree
    int newFiles = 0, changedFiles = 0, unchangedFiles = 0, carriedFiles = 0;
    int newFolders = 0, neededFolders = 0, keptFolders = 0;
    uint64_t comparedBytes = 0;
};

// Leaves in `entries` only what players lack: new and changed files, the `carried` ones, new
// folders, and the folders a packed entry lies in. False with a message when a file cannot be
// read or a name changed between file and folder (the updater can replace neither by the other).
bool CompareWithBase(std::vector<PlannedEntry>& entries, const OldTree& old, const BaseOptions& options,
                     BaseResult& result, std::string& error);

// 1 when the two files hold the same bytes, 0 when not, -1 (with a message) when one cannot be
// read. Streams both in pieces and stops at the first difference; `done` grows by the bytes read
// from `a`.
int SameContents(const std::filesystem::path& a, const std::filesystem::path& b, std::vector<char>& bufferA,
                 std::vector<char>& bufferB, uint64_t* done, std::string& error);

#endif
