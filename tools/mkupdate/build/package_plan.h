// Turns a source folder into the ordered list of package entries: names in code page 932,
// sizes and times from the files, and an order the updater's two passes can follow.
#ifndef MKUPDATE_PACKAGE_PLAN_H
#define MKUPDATE_PACKAGE_PLAN_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct PlannedEntry {
    std::string name;              // code page 932, backslash separated; folders end in one
    bool folder = false;
    std::filesystem::path source;  // the file to pack (files only)
    std::string contents;          // packed instead of `source` when `generated` is set
    bool generated = false;
    uint64_t size = 0;
    uint64_t lastWriteTime = 0;
    // build --base: the distinct old versions of a changed file that every base holds; the
    // build packs a delta from each when together they are clearly smaller than the whole file.
    std::vector<std::filesystem::path> deltaBases;
};

// The ignore file a game maker may put at the top of SRC_DIR: a pattern a line, as --exclude takes.
constexpr const char kIgnoreFile[] = ".mkupdateignore";

struct CollectOptions {
    // Leave out version-control folders, desktop clutter (Thumbs.db, desktop.ini, .DS_Store),
    // the ignore file and its patterns, and updates built earlier.
    bool defaultExcludes = true;
    std::vector<std::string> excludes;          // more patterns (--exclude)
    std::vector<std::string>* leftOut = nullptr;  // receives what was left out, as UTF-8 paths
};

// The core's EntryNameKey of a name of any length: names (code page 932) with one key are one
// file or folder on Windows.
std::string NameKey(const std::string& cp932, bool folder);

// Reads the tree under `root` (every file and folder, empty ones included, less what the options
// leave out). False with a message naming the offending file or folder; every name without a code
// page 932 form is named, one a line. The first form reads everything.
bool CollectEntries(const std::filesystem::path& root, std::vector<PlannedEntry>& entries, std::string& error);
bool CollectEntries(const std::filesystem::path& root, const CollectOptions& options, std::vector<PlannedEntry>& entries,
                    std::string& error);

// What CollectEntries leaves out under `root`: the options' patterns and, with the default
// excludes, the clutter and the ignore file's patterns read from `root`. The same rules let a
// second tree (the previous release of build --base) be read as the first.
std::vector<std::string> ExcludePatterns(const std::filesystem::path& root, const CollectOptions& options);
// An update executable written by build (left out of a tree by the default excludes).
bool IsBuiltUpdate(const std::filesystem::path& path);

// One file or folder met by WalkTree.
struct TreeItem {
    const std::filesystem::directory_entry& entry;
    std::filesystem::path relative;  // from the tree's top
    bool folder;
    bool link;  // a symbolic link or, on Windows, any reparse point; never entered
};

// What WalkTree does after an item: go on, leave out what the folder holds, or stop.
enum class TreeStep { kGoOn, kPassOver, kStop };

struct TreeWalk {
    std::vector<std::string> excludes;  // as --exclude describes them; a folder left out is not entered
    bool linkedFolders = false;         // a link to a folder counts as a folder for the excludes
    std::function<void(const TreeItem&)> leftOut;  // told of what the excludes leave out (optional)
    std::function<TreeStep(const TreeItem&, std::string& error)> visit;  // kStop with the message
};

// Walks every file and folder under `root`, each folder before what it holds; links are visited
// but never entered. False with a message naming the folder when one cannot be read, or when
// `visit` stops.
bool WalkTree(const std::filesystem::path& root, const TreeWalk& walk, std::string& error);

// Warns, on standard error, of each entry whose name leaves less room than an ordinary install
// folder (CheckNameRoom). With `strict` those are errors: false with them in `error`.
bool WarnOfTightNames(const std::vector<PlannedEntry>& entries, bool strict, std::string& error);

// Puts the entries in package order: top-level files first (install.env, then insttscr.rct,
// then the rest by name), then the folders level by level, then the files inside folders. False
// with the reason when no order lets the setup pass end before a setup file inside a folder.
bool OrderEntries(std::vector<PlannedEntry>& entries, std::string& error);

#endif
