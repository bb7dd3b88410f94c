// Turns a source folder into the ordered list of package entries: names in code page 932,
// sizes and times from the files, and an order the updater's two passes can follow.
#ifndef MKUPDATE_PACKAGE_PLAN_H
#define MKUPDATE_PACKAGE_PLAN_H

#include <cstdint>
#include <filesystem>
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
};

// Reads the tree under `root` (every file and folder, empty ones included). False with a
// message naming the first offending file or folder.
bool CollectEntries(const std::filesystem::path& root, std::vector<PlannedEntry>& entries, std::string& error);

// Puts the entries in package order: top-level files first (install.env, then insttscr.rct,
// then the rest by name), then the folders level by level, then the files inside folders. False
// with the reason when no order lets the setup pass end before a setup file inside a folder.
bool OrderEntries(std::vector<PlannedEntry>& entries, std::string& error);

#endif
